// Opening the defragmenter window from the main window's Expert menu.
#pragma once

namespace tools {

// Shows the defragmenter window (Form3) without blocking; it loads and
// prepares itself when shown. A second call while it is open brings it to
// the front.
void ShowDefragmenter();

}  // namespace tools
