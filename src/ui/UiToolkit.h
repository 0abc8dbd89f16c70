#pragma once

// Prepares the window toolkit once the application object exists: the skin archive from the program
// itself, and a font for the layouts' "微软雅黑" where that is not installed.
// False when the skin archive could not be loaded (the windows then have no
// layout, and the program still runs and can be closed).
bool SetUpToolkit();
