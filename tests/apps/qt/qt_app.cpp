// uiglean-qt-app: a Qt 5 widgets application for the Linux desktop tests.
//
//   uiglean-qt-app [--log FILE] [--title TITLE]
//
// A main window ("uiglean qt test") with a menu bar (File: New Ctrl+N, Quit Ctrl+Q), a status
// label, the buttons "Say Hello" and "Clear", a line edit named "Name" and a check box "Enable
// feature". With --log FILE every change the application receives is appended to FILE as one
// line, flushed at once, in the same forms as uiglean-gtk-app:
//
//   button LABEL | entry Name=TEXT | check Enable feature=0|1 | menu LABEL | status TEXT |
//   window TITLE opened
//
// Qt exposes the widgets over AT-SPI when QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (or when the
// session's org.a11y.Status says accessibility is on); scripts/desktop.sh sets both.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

QFile *log_file = nullptr;

// Line breaks and backslashes escaped, so each record stays one line.
QString escaped(QString text) {
    return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

void log_line(const QString &line) {
    if (log_file == nullptr) return;
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    log_file->write(bytes);
    log_file->flush();
}

} // namespace

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("uiglean-qt-app"));
    QApplication::setDesktopFileName(QStringLiteral("org.uiglean.QtTestApp"));

    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption log_option(QStringLiteral("log"),
                                  QStringLiteral("Append one line per change the application receives to FILE."),
                                  QStringLiteral("FILE"));
    QCommandLineOption title_option(QStringLiteral("title"), QStringLiteral("Title of the main window."),
                                    QStringLiteral("TITLE"), QStringLiteral("uiglean qt test"));
    parser.addOption(log_option);
    parser.addOption(title_option);
    parser.process(application);

    std::unique_ptr<QFile> file;
    if (parser.isSet(log_option)) {
        file = std::make_unique<QFile>(parser.value(log_option));
        if (!file->open(QIODevice::Append | QIODevice::WriteOnly)) {
            std::fprintf(stderr, "uiglean-qt-app: cannot open %s: %s\n",
                         qPrintable(parser.value(log_option)), qPrintable(file->errorString()));
            return 1;
        }
        log_file = file.get();
    }

    QMainWindow window;
    window.setWindowTitle(parser.value(title_option));
    window.resize(480, 320);

    QMenu *file_menu = window.menuBar()->addMenu(QStringLiteral("&File"));
    QAction *new_action = file_menu->addAction(QStringLiteral("&New"));
    new_action->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    QObject::connect(new_action, &QAction::triggered, [] { log_line(QStringLiteral("menu New")); });
    file_menu->addSeparator();
    QAction *quit_action = file_menu->addAction(QStringLiteral("&Quit"));
    quit_action->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    QObject::connect(quit_action, &QAction::triggered, [] {
        log_line(QStringLiteral("menu Quit"));
        QApplication::quit();
    });

    auto *central = new QWidget(&window);
    auto *layout = new QVBoxLayout(central);

    auto *status = new QLabel(QStringLiteral("Status: idle"), central);
    layout->addWidget(status);
    auto set_status = [status](const QString &text) {
        status->setText(text);
        log_line(QStringLiteral("status ") + text);
    };

    auto *buttons = new QHBoxLayout;
    auto *hello = new QPushButton(QStringLiteral("Say Hello"), central);
    auto *clear = new QPushButton(QStringLiteral("Clear"), central);
    buttons->addWidget(hello);
    buttons->addWidget(clear);
    buttons->addStretch();
    layout->addLayout(buttons);
    int hello_count = 0;
    QObject::connect(hello, &QPushButton::clicked, [&hello_count, set_status] {
        log_line(QStringLiteral("button Say Hello"));
        set_status(QStringLiteral("Hello pressed %1").arg(++hello_count));
    });
    QObject::connect(clear, &QPushButton::clicked, [set_status] {
        log_line(QStringLiteral("button Clear"));
        set_status(QStringLiteral("Status: idle"));
    });

    auto *name = new QLineEdit(central);
    name->setObjectName(QStringLiteral("Name"));
    name->setPlaceholderText(QStringLiteral("Your name"));
    name->setAccessibleName(QStringLiteral("Name"));
    layout->addWidget(name);
    QObject::connect(name, &QLineEdit::textChanged,
                     [](const QString &text) { log_line(QStringLiteral("entry Name=") + escaped(text)); });

    auto *feature = new QCheckBox(QStringLiteral("Enable feature"), central);
    layout->addWidget(feature);
    QObject::connect(feature, &QCheckBox::toggled, [](bool on) {
        log_line(QStringLiteral("check Enable feature=") + (on ? QLatin1Char('1') : QLatin1Char('0')));
    });

    // Hidden until asked for: a toolkit that lists hidden widgets must not show it on the screen.
    auto *more = new QPushButton(QStringLiteral("Show Advanced"), central);
    layout->addWidget(more);
    auto *advanced = new QGroupBox(QStringLiteral("Advanced"), central);
    auto *advanced_layout = new QHBoxLayout(advanced);
    auto *reset = new QPushButton(QStringLiteral("Reset All"), advanced);
    advanced_layout->addWidget(reset);
    layout->addWidget(advanced);
    advanced->hide();
    QObject::connect(more, &QPushButton::clicked, [advanced] {
        advanced->setVisible(!advanced->isVisible());
        log_line(QStringLiteral("button Show Advanced"));
    });
    QObject::connect(reset, &QPushButton::clicked, [] { log_line(QStringLiteral("button Reset All")); });
    layout->addStretch();

    window.setCentralWidget(central);
    window.show();
    log_line(QStringLiteral("window ") + window.windowTitle() + QStringLiteral(" opened"));
    return QApplication::exec();
}
