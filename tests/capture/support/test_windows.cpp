// Opens one window for each argument "title|#rrggbb|x|y|width|height", filled
// with the colour, and prints "window <index> <id>" for each once all are
// painted on the server (or after five seconds, whatever came of them), so a
// test that reads the screen next finds the colours there even on a busy
// machine. Runs until killed. $KORVALA_TEST_APP names the program (the class
// of its windows' WM_CLASS).

#include <QApplication>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace {

// Tells once, after its first painting has gone to the server.
class ColourWindow final : public QWidget {
public:
    std::function<void()> onPainted;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QWidget::paintEvent(event);
        if (painted_)
            return;
        painted_ = true;
        // Queued: the backing store is flushed once this paint returns.
        QTimer::singleShot(0, this, [this] {
            if (onPainted)
                onPainted();
        });
    }

private:
    bool painted_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("KORVALA_TEST_APP"))
        QCoreApplication::setApplicationName(qEnvironmentVariable("KORVALA_TEST_APP"));
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<ColourWindow>> windows;
    size_t painted = 0;
    bool told = false;
    QTextStream out(stdout);
    const auto tell = [&] {
        if (told)
            return;
        told = true;
        // A round trip: everything sent before is on the server now.
        QGuiApplication::sync();
        for (size_t i = 0; i < windows.size(); ++i)
            out << "window " << i << ' ' << windows[i]->winId() << '\n';
        out.flush();
    };
    for (const QString& description : app.arguments().mid(1)) {
        const QStringList parts = description.split(u'|');
        if (parts.size() != 6)
            return 2;
        auto window = std::make_unique<ColourWindow>();
        window->onPainted = [&] {
            if (++painted == windows.size())
                tell();
        };
        window->setWindowTitle(parts[0]);
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, QColor(parts[1]));
        window->setPalette(palette);
        window->setAutoFillBackground(true);
        window->setGeometry(parts[2].toInt(), parts[3].toInt(), parts[4].toInt(), parts[5].toInt());
        window->show();
        windows.push_back(std::move(window));
    }
    QTimer::singleShot(5000, &app, tell);
    return app.exec();
}
