#include "ui/WaitDialog.h"

// Every key press is swallowed, so neither Escape nor Alt+F4 can leave the
// login worker without a window to report to.
bool WaitDialog::MessageHandler(QEvent*) {
    return true;
}
