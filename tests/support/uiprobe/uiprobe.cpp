// A test's eyes and hands inside a real program: a Qt generic plugin that
// the end-to-end tests load into the unchanged programs with
//   QT_QPA_GENERIC_PLUGINS=lumouiprobe:<directory>
// It reads what a screen reader reads and acts as an operator does, so the
// tests need neither pixels nor a desktop's accessibility bus (Wine has none):
//   <directory>/texts.log   one line per text shown or changed, as it happens:
//                           "<ms since start>\t<accessible name>\t<text>"
//   <directory>/commands    lines the test appends, carried out in order:
//                           click <button text or accessible name>
//                           type <accessible name>\t<text>     (replaces the text)
//                           choose <accessible name>\t<entry>
//                           answer <button text of the open message box>
//                           shoot <window title>\t<png path>   (the window as drawn)
// Only for tests: no program links it.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

namespace {

class Probe : public QObject {
public:
    explicit Probe(const QString& directory)
        : log_(directory + QStringLiteral("/texts.log")), commands_(directory + QStringLiteral("/commands"))
    {
        log_.open(QIODevice::WriteOnly | QIODevice::Truncate);  // lines end in \n on every system
        clock_.start();
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start(50);
    }

private:
    void note(const QString& name, const QString& text)
    {
        QTextStream(&log_) << clock_.elapsed() << '\t' << name << '\t' << text << '\n';
        log_.flush();
    }

    // Follows every named text field from the moment it exists.
    void look()
    {
        for (QWidget* widget : QApplication::allWidgets()) {
            auto* line = qobject_cast<QLineEdit*>(widget);
            if (!line || line->accessibleName().isEmpty() || line->property("lumoProbed").toBool())
                continue;
            line->setProperty("lumoProbed", true);
            note(line->accessibleName(), line->text());
            connect(line, &QLineEdit::textChanged, this,
                    [this, line](const QString& text) { note(line->accessibleName(), text); });
        }
        readCommands();
    }

    void readCommands()
    {
        QFile file(commands_);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return;
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        while (done_ < lines.size()) {
            const QString line = lines[done_++];
            // Carried out from the event loop: a click that opens a message
            // box returns only when the box closes, and the probe must go
            // on looking meanwhile.
            QTimer::singleShot(0, this, [this, line] { carryOut(line); });
        }
    }

    template <class T>
    T* find(const QString& name)
    {
        for (QWidget* widget : QApplication::allWidgets()) {
            auto* found = qobject_cast<T*>(widget);
            if (!found || !found->isVisible())
                continue;
            QString text;
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                text = button->text().remove('&');
            if (found->accessibleName() == name || (!text.isEmpty() && text == name))
                return found;
        }
        return nullptr;
    }

    void carryOut(const QString& line)
    {
        const QString verb = line.section(' ', 0, 0);
        const QString rest = line.section(' ', 1);
        const QString name = rest.section('\t', 0, 0), value = rest.section('\t', 1);
        bool done = false;
        if (verb == QLatin1String("click") || verb == QLatin1String("answer")) {
            if (QAbstractButton* button = find<QAbstractButton>(name)) {
                QTest::mouseClick(button, Qt::LeftButton);
                done = true;
            }
        } else if (verb == QLatin1String("type")) {
            if (QLineEdit* field = find<QLineEdit>(name)) {
                field->selectAll();
                QTest::keyClick(field, Qt::Key_Delete);
                QTest::keyClicks(field, value);
                done = true;
            }
        } else if (verb == QLatin1String("choose")) {
            if (QComboBox* list = find<QComboBox>(name); list && list->findText(value) >= 0) {
                list->setCurrentIndex(list->findText(value));
                done = true;
            }
        } else if (verb == QLatin1String("shoot")) {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (window->isVisible() && window->windowTitle() == name)
                    done = window->grab().save(value);
        }
        note(QStringLiteral("probe"), (done ? QStringLiteral("done ") : QStringLiteral("FAILED ")) + line);
    }

    QFile log_;
    QString commands_;
    QElapsedTimer clock_;
    QTimer timer_;
    qsizetype done_ = 0;
};

class ProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "uiprobe.json")
public:
    QObject* create(const QString& key, const QString& directory) override
    {
        if (key != QLatin1String("lumouiprobe") || directory.isEmpty())
            return nullptr;
        return new Probe(directory);
    }
};

}  // namespace

#include "uiprobe.moc"
