#include "uiseams_qt.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QTreeWidget>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextDocument>
#include <QTranslator>
#include <QUrl>

#include <limits>
#include <memory>

namespace {

struct PrompterHook
{
    bool on = false;
    QList<int> answers;
    QList<bool> checkStates;
    QList<QtPrompter::Asked> asked;
};

PrompterHook& prompterHook()
{
    static PrompterHook hook;
    return hook;
}

QTranslator*& toolkitTranslator()
{
    static QTranslator* translator = nullptr;
    return translator;
}

QMessageBox::Icon boxIcon(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::Information:
        return QMessageBox::Information;
    case Prompter::Icon::Question:
        return QMessageBox::Question;
    case Prompter::Icon::Warning:
        return QMessageBox::Warning;
    case Prompter::Icon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void ApplyFormTexts(QWidget* form, const std::function<QString(int)>& text,
                    std::initializer_list<FormText> texts)
{
    for (const FormText& t : texts) {
        QString name = QLatin1String(t.object);
        int column = -1;
        if (const qsizetype hash = name.indexOf(QLatin1Char('#')); hash >= 0) {
            column = name.mid(hash + 1).toInt();
            name.truncate(hash);
        }
        QWidget* w = name == form->objectName() ? form : form->findChild<QWidget*>(name);
        if (!w)
            continue;
        const QString s = text(t.number);
        auto* tree = qobject_cast<QTreeWidget*>(w);
        QWidget* stack = w->parentWidget();
        auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
        if (column >= 0) {
            if (tree && column < tree->columnCount())
                tree->headerItem()->setText(column, s);
        } else if (w == form) {
            w->setWindowTitle(PlainUiText(s));
        } else if (tabs && tabs->indexOf(w) >= 0) {
            tabs->setTabText(tabs->indexOf(w), s);
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            group->setTitle(s);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            button->setText(s);
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            label->setText(s);
        }
    }
}

QString PlainUiText(const QString& text)
{
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&')) {
            plain += text.at(i);
        } else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&')) {
            plain += QLatin1Char('&');
            ++i;
        }
    }
    return plain;
}

int QtPrompter::ask(Icon icon, const QString& caption, const QString& text,
                    const QStringList& buttons, int defaultButton, int escapeButton)
{
    return askWithCheckBox(icon, caption, text, buttons, QString(), nullptr, defaultButton,
                           escapeButton);
}

int QtPrompter::askWithCheckBox(Icon icon, const QString& caption, const QString& text,
                                const QStringList& buttons, const QString& checkLabel,
                                bool* checked, int defaultButton, int escapeButton)
{
    const bool withCheck = checked && !checkLabel.isEmpty();
    PrompterHook& hook = prompterHook();
    if (hook.on) {
        int answer = hook.answers.isEmpty() ? defaultButton : hook.answers.takeFirst();
        if (answer < 0 || answer >= buttons.size())
            answer = defaultButton;
        if (withCheck && !hook.checkStates.isEmpty())
            *checked = hook.checkStates.takeFirst();
        hook.asked.append({icon, caption, text, buttons, answer, withCheck ? checkLabel : QString(),
                           withCheck && *checked});
        return answer;
    }

    QMessageBox box(boxIcon(icon), PlainUiText(caption), QString(), QMessageBox::NoButton,
                    m_parent);
    // The texts mark bold parts with tags; their line breaks must survive rich text.
    // The toolkit looks for tags on the first line only; a list of bold names
    // below a plain first line is rich text too.
    if (Qt::mightBeRichText(text) || text.contains(QLatin1String("<b>"))) {
        box.setTextFormat(Qt::RichText);
        box.setText(QString(text).replace(QLatin1Char('\n'), QLatin1String("<br>")));
    } else {
        box.setTextFormat(Qt::PlainText);
        box.setText(text);
    }
    QList<QPushButton*> pushed;
    const QStringList labels = buttons.isEmpty() ? QStringList{QStringLiteral("&OK")} : buttons;
    for (const QString& label : labels)
        pushed.append(box.addButton(label, QMessageBox::AcceptRole));
    if (defaultButton >= 0 && defaultButton < pushed.size())
        box.setDefaultButton(pushed.at(defaultButton));
    if (escapeButton >= 0 && escapeButton < pushed.size())
        box.setEscapeButton(pushed.at(escapeButton));
    QCheckBox* check = nullptr;
    if (withCheck) {
        check = new QCheckBox(checkLabel, &box);
        check->setChecked(*checked);
        box.setCheckBox(check);
    }
    box.exec();
    if (check)
        *checked = check->isChecked();
    const int chosen = int(pushed.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
    // Closed without a button (only possible with an escape button): that one.
    return chosen >= 0 ? chosen : (escapeButton >= 0 ? escapeButton : defaultButton);
}

void QtPrompter::setTestMode(bool on)
{
    prompterHook().on = on;
}

bool QtPrompter::testMode()
{
    return prompterHook().on;
}

void QtPrompter::setNextAnswers(const QList<int>& answers)
{
    prompterHook().answers = answers;
}

void QtPrompter::setNextCheckStates(const QList<bool>& states)
{
    prompterHook().checkStates = states;
}

QList<QtPrompter::Asked> QtPrompter::takeAsked()
{
    return std::exchange(prompterHook().asked, {});
}

void QtProgressSink::setTotal(qint64 total)
{
    m_total = qMax<qint64>(0, total);
    m_shift = 0;
    while ((m_total >> m_shift) > std::numeric_limits<int>::max())
        ++m_shift;
    if (!m_bar)
        return;
    // A zero total is a reset: an empty bar, not the toolkit's busy animation.
    m_bar->setRange(0, m_total > 0 ? int(m_total >> m_shift) : 1);
    m_bar->setValue(0);
}

void QtProgressSink::setDone(qint64 done)
{
    if (!m_bar)
        return;
    const qint64 clamped = qBound<qint64>(0, done, m_total);
    const int value = int(clamped >> m_shift);
    if (value == m_bar->value())
        return;
    m_bar->setValue(value);
    // Long work runs on the window's thread: paint now rather than at its end,
    // without running other events (a drop or a socket) in the middle of it.
    if (m_bar->isVisible())
        m_bar->repaint();
}

void QtStatusSink::showStatus(const QString& text)
{
    if (!m_bar)
        return;
    if (text.isEmpty())
        m_bar->clearMessage();
    else
        m_bar->showMessage(text);
    if (m_bar->isVisible())
        m_bar->repaint();
}

FileDialogs::DirectoryHook FileDialogs::directoryHook;
FileDialogs::FilesHook FileDialogs::filesHook;

QString FileDialogs::chooseDirectory(QWidget* parent, const QString& caption, const QString& start)
{
    if (directoryHook)
        return directoryHook(caption, start);
    return QFileDialog::getExistingDirectory(parent, PlainUiText(caption), start);
}

QStringList FileDialogs::chooseFiles(QWidget* parent, const QString& caption, const QString& start,
                                     const QString& filter)
{
    if (filesHook)
        return filesHook(caption, start, filter);
    return QFileDialog::getOpenFileNames(parent, PlainUiText(caption), start, filter);
}

std::function<bool(const QUrl&)> DesktopOpen::hook;

bool DesktopOpen::openUrl(const QUrl& url)
{
    if (hook)
        return hook(url);
    return QDesktopServices::openUrl(url);
}

QString FileDialogs::chooseFile(QWidget* parent, const QString& caption, const QString& start,
                                const QString& filter)
{
    if (filesHook)
        return filesHook(caption, start, filter).value(0);
    return QFileDialog::getOpenFileName(parent, PlainUiText(caption), start, filter);
}

QString FileDialogs::chooseSaveFile(QWidget* parent, const QString& caption, const QString& start,
                                    const QString& filter)
{
    if (filesHook)
        return filesHook(caption, start, filter).value(0);
    return QFileDialog::getSaveFileName(parent, PlainUiText(caption), start, filter);
}

InputDialogs::Hook InputDialogs::hook;

QString InputDialogs::askText(QWidget* parent, const QString& caption, const QString& label,
                              const QString& text)
{
    if (hook)
        return hook(caption, label, text);
    bool ok = false;
    const QString answer = QInputDialog::getText(parent, PlainUiText(caption), label,
                                                 QLineEdit::Normal, text, &ok);
    return ok ? answer : QString();
}

QString InputDialogs::askItem(QWidget* parent, const QString& caption, const QString& label,
                              const QStringList& items, int current)
{
    if (hook)
        return hook(caption, label, items.join(QLatin1Char('\n')));
    bool ok = false;
    const QString answer =
        QInputDialog::getItem(parent, PlainUiText(caption), label, items, current, false, &ok);
    return ok ? answer : QString();
}

std::function<int(QDialog&)> ModalDialogs::hook;

int ModalDialogs::exec(QDialog& dialog)
{
    if (hook)
        return hook(dialog);
    return dialog.exec();
}

std::function<QAction*(QMenu&)> PopupMenus::hook;

QAction* PopupMenus::exec(QMenu& menu, const QPoint& globalPos)
{
    if (hook) {
        QAction* chosen = hook(menu);
        if (chosen)
            chosen->trigger();
        return chosen;
    }
    return menu.exec(globalPos);
}

void InstallToolkitTranslation(QLocale::Language language)
{
    QTranslator*& current = toolkitTranslator();
    if (current) {
        QCoreApplication::removeTranslator(current);
        delete current;
        current = nullptr;
    }
    if (language == QLocale::AnyLanguage || language == QLocale::C || language == QLocale::English)
        return;
    auto translator = std::make_unique<QTranslator>();
    const QLocale locale(language);
    // Beside the program first (a Windows folder), then where the toolkit keeps them.
    for (const QString& dir : {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
            QCoreApplication::installTranslator(translator.get());
            current = translator.release();
            return;
        }
    }
}
