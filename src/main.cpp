#include "app/ScanSettings.h"
#include "scan/components/AresLookup.h"
#include "scan/components/IcmpEcho.h"
#include "ui/MainForm.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
    form.applySettings(ScanSettings{});
    form.show();
    return app.exec();
}
