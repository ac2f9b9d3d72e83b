#include "Main.h"

#include <QMdiArea>

#include "RecordLayout.h"

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent), m_mdiArea(new QMdiArea(this))
{
    setWindowTitle("Veltrane");
    resize(803, 614);
    setCentralWidget(m_mdiArea);
    veltrane::DelimiterMode = veltrane::dmNormal;
}
