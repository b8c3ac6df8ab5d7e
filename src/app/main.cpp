#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("交通費履歴読出"));
    QWidget window;
    window.setWindowTitle(QStringLiteral("交通費履歴読出"));
    window.resize(540, 300);
    window.show();
    return QApplication::exec();
}
