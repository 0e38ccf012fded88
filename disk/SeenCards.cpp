#include "disk/SeenCards.h"

#include <filesystem>
#include <fstream>

namespace vorn {
namespace {

std::string ListPath(const std::string& root) { return root + "/cards-seen"; }

// One line per card; a line break in an identity (a drive's name) would split it.
std::string Line(std::string identity) {
  for (char& c : identity) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return identity;
}

}  // namespace

bool CardSeen(const std::string& identity, const std::string& root) {
  std::ifstream list(ListPath(root));
  const std::string wanted = Line(identity);
  for (std::string line; std::getline(list, line);) {
    if (line == wanted) return true;
  }
  return false;
}

void RememberCard(const std::string& identity, const std::string& root) {
  if (CardSeen(identity, root)) return;
  std::error_code ignored;
  std::filesystem::create_directories(root, ignored);
  // Appended whole in one write, so two windows adding at once keep both lines.
  std::ofstream(ListPath(root), std::ios::app) << Line(identity) + "\n" << std::flush;
}

}  // namespace vorn
