#include "ui/UiToolkit.h"

#include "ui/SkinArchive.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

bool SetUpToolkit() {
    // Windows are closed and opened in turn (login, then main window): the
    // program's life is decided by the start-up code, not by the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    // The layouts name the font the skins were designed with; a CJK font of
    // this system stands in for it so every Chinese text renders.
    const QStringList families = QFontDatabase::families();
    for (const char* candidate :
         {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC", "Droid Sans Fallback"}) {
        if (families.contains(QLatin1String(candidate))) {
            QFont::insertSubstitution(QStringLiteral("微软雅黑"), QLatin1String(candidate));
            break;
        }
    }
    return SkinArchive::Instance().LoadEmbedded();
}
