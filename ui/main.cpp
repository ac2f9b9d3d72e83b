#include <QApplication>

#include "Main.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TFormMain mainForm;
    mainForm.show();
    return app.exec();
}
