// The icon lives in a resource compiled into this static library; a static
// library's resources register only when something calls their initialiser.
#include <QtCore/qglobal.h>

#include "ui/UiResources.h"

static void InitVornResources() { Q_INIT_RESOURCE(vorn3manager); }

namespace vorn {

void InitUiResources() {
  static const bool once = (InitVornResources(), true);
  (void)once;
}

}  // namespace vorn
