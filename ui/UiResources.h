#pragma once

namespace vorn {

// Registers the icon and the other resources of the window; safe to call often.
void InitUiResources();

}  // namespace vorn
