// The reference of the program's start: a plain Qt Widgets program with one label in a window,
// which says "drawn" on standard error once the label is first painted and then ends.

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

namespace {

class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint && !told_) {
            told_ = true;
            std::fputs("drawn\n", stderr);
            std::fflush(stderr);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    bool told_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(QStringLiteral("This screen is not built yet."));
    layout->addWidget(label);
    window.resize(414, 736);
    FirstPaint paint;
    label->installEventFilter(&paint);
    window.show();
    return QApplication::exec();
}
