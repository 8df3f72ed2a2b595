#include "app/desktop/Globals.h"
#include "scan/components/AresLookup.h"
#include "scan/components/IcmpEcho.h"
#include "ui/MainForm.h"
#include "ui/SplashForm.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(SplashForm::programIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("vantrel"));
    const auto form = Globals::Main(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
    return app.exec();
}
