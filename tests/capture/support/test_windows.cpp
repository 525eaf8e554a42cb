// Opens one window for each argument "title|#rrggbb|x|y|width|height", filled
// with the colour, and prints "window <index> <id>" for each once all are
// shown. Runs until killed. $KORVALA_TEST_APP names the program (the class
// of its windows' WM_CLASS).

#include <QApplication>
#include <QTextStream>
#include <QWidget>

#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("KORVALA_TEST_APP"))
        QCoreApplication::setApplicationName(qEnvironmentVariable("KORVALA_TEST_APP"));
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QWidget>> windows;
    for (const QString& description : app.arguments().mid(1)) {
        const QStringList parts = description.split(u'|');
        if (parts.size() != 6)
            return 2;
        auto window = std::make_unique<QWidget>();
        window->setWindowTitle(parts[0]);
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, QColor(parts[1]));
        window->setPalette(palette);
        window->setAutoFillBackground(true);
        window->setGeometry(parts[2].toInt(), parts[3].toInt(), parts[4].toInt(), parts[5].toInt());
        window->show();
        windows.push_back(std::move(window));
    }
    QTextStream out(stdout);
    for (size_t i = 0; i < windows.size(); ++i)
        out << "window " << i << ' ' << windows[i]->winId() << '\n';
    out.flush();
    return app.exec();
}
