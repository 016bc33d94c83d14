#include "configdialog.h"

#include "creatortexts.h"
#include "fileutils.h"
#include "gamedir.h"
#include "ui_configdialog.h"
#include "uiseams_qt.h"
#include "uitexts.h"

namespace {

QString fieldLabel(const QString& text)
{
    return QStringLiteral("<b>") + text + QStringLiteral(":</b>");
}

} // namespace

ConfigDialog::ConfigDialog(const UiTexts& texts, const CreatorSettings& settings, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DConfigDialog>()), m_texts(texts),
      m_settings(settings)
{
    using namespace CreatorText;
    Ui::DConfigDialog& ui = *m_ui;
    ui.setupUi(this);
    setWindowTitle(PlainUiText(texts.own(ConfigCaption)));
    ui.languageLabel->setText(fieldLabel(texts.own(ConfigLanguage)));
    ui.gameDirLabel->setText(fieldLabel(texts.own(ConfigGameDir)));
    ui.gameDirButton->setText(texts.own(Browse));
    ui.startGroup->setTitle(texts.own(ConfigStart));
    ui.prefixCheck->setText(texts.own(ConfigPrefix));
    ui.saveWebCheck->setText(texts.own(ConfigSaveWeb));
    ui.getTextCheck->setText(texts.own(ConfigGetText));
    ui.getTextTCheck->setText(texts.own(ConfigGetTextT));
    ui.defaultsGroup->setTitle(texts.own(ConfigDefaults));
    ui.defAuthorLabel->setText(texts.own(Author));
    ui.defWebLabel->setText(texts.own(WebAddress));
    ui.defMirror1Label->setText(texts.own(Mirror1));
    ui.defMirror2Label->setText(texts.own(Mirror2));
    ui.dirsGroup->setTitle(texts.own(ConfigDirs));
    ui.modDirLabel->setText(texts.own(ConfigModDir));
    ui.modelDirLabel->setText(texts.own(ConfigModelDir));
    ui.typesDirLabel->setText(texts.own(ConfigTypesDir));
    ui.saveDirLabel->setText(texts.own(ConfigSaveDir));
    ui.textDirLabel->setText(texts.own(ConfigTextDir));
    ui.scriptDirLabel->setText(texts.own(ConfigScriptDir));
    for (QPushButton* b : {ui.modDirButton, ui.modelDirButton, ui.typesDirButton, ui.saveDirButton,
                           ui.textDirButton, ui.scriptDirButton, ui.bodcompButton})
        b->setText(texts.own(Browse));
    ui.bobGroup->setTitle(texts.own(ConfigBob));
    ui.bodcompCheck->setText(texts.own(ConfigEnableBob));
    ui.bodcompLabel->setText(texts.own(ConfigBodcomp));
    ui.saveGroup->setTitle(texts.own(ConfigSaving));
    ui.fastSaveCheck->setText(texts.own(ConfigFastSave));
    ui.fastSaveNote->setText(texts.own(ConfigFastSaveNote));
    ui.doneButton->setText(texts.own(Done));
    ui.doneButton->setDefault(true);
    ui.cancelButton->setText(texts.own(CancelButton));

    // The language name travels as item data, so the label may be translated.
    int current = 0;
    for (const UiTexts::Language& l : texts.languages()) {
        if (l.name.compare(settings.language, Qt::CaseInsensitive) == 0)
            current = ui.languageBox->count();
        ui.languageBox->addItem(FormatText(texts.own(ConfigLanguageBy), l.name,
                                           QString::number(l.id), l.translator),
                                l.name);
    }
    if (ui.languageBox->count() == 0)
        ui.languageBox->addItem(settings.language, settings.language);
    ui.languageBox->setCurrentIndex(current);
    ui.gameDirBox->addItems(settings.gameDirs);
    ui.prefixCheck->setChecked(settings.prefixNames);
    ui.saveWebCheck->setChecked(settings.saveWeb);
    ui.getTextCheck->setChecked(settings.getTextOnStart);
    ui.getTextTCheck->setChecked(settings.looseTextFolder);
    ui.defAuthorEdit->setText(settings.defaultAuthor);
    ui.defWebEdit->setText(settings.defaultWeb);
    ui.defMirror1Edit->setText(settings.defaultMirror1);
    ui.defMirror2Edit->setText(settings.defaultMirror2);
    ui.modDirEdit->setText(settings.modDir);
    ui.modelDirEdit->setText(settings.modelDir);
    ui.typesDirEdit->setText(settings.typeDir);
    ui.saveDirEdit->setText(settings.saveDir);
    ui.textDirEdit->setText(settings.textDir);
    ui.scriptDirEdit->setText(settings.scriptDir);
    ui.bodcompCheck->setChecked(settings.bodcomp);
    ui.bodcompEdit->setText(settings.bodcompPath);
    ui.fastSaveCheck->setChecked(settings.fastSave);
    updateEnabled();

    connect(ui.getTextCheck, &QCheckBox::toggled, this, &ConfigDialog::updateEnabled);
    connect(ui.bodcompCheck, &QCheckBox::toggled, this, &ConfigDialog::updateEnabled);
    connect(ui.gameDirButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenDir);
    connect(ui.modDirButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenModDir);
    connect(ui.modelDirButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenModelDir);
    connect(ui.typesDirButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenTypesDir);
    connect(ui.saveDirButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenSaveDir);
    connect(ui.textDirButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenTextDir);
    connect(ui.scriptDirButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenScriptDir);
    connect(ui.bodcompButton, &QPushButton::clicked, this, &ConfigDialog::Slot_OpenBodcompDir);
    connect(ui.doneButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui.cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::updateEnabled()
{
    m_ui->getTextTCheck->setEnabled(m_ui->getTextCheck->isChecked());
    m_ui->bodcompEdit->setEnabled(m_ui->bodcompCheck->isChecked());
    m_ui->bodcompButton->setEnabled(m_ui->bodcompCheck->isChecked());
}

CreatorSettings ConfigDialog::settings() const
{
    const Ui::DConfigDialog& ui = *m_ui;
    CreatorSettings s = m_settings;
    const QString language = ui.languageBox->currentData().toString();
    if (!language.isEmpty())
        s.language = language;
    // The chosen directory goes first; the others keep their order.
    QStringList dirs;
    for (int i = 0; i < ui.gameDirBox->count(); ++i)
        dirs << ui.gameDirBox->itemText(i);
    const QString current = ui.gameDirBox->currentText();
    GameDirList list;
    list.dirs = dirs;
    if (!current.isEmpty())
        list.choose(current);
    s.gameDirs = list.dirs;
    s.prefixNames = ui.prefixCheck->isChecked();
    s.saveWeb = ui.saveWebCheck->isChecked();
    s.getTextOnStart = ui.getTextCheck->isChecked();
    s.looseTextFolder = ui.getTextTCheck->isChecked();
    s.defaultAuthor = ui.defAuthorEdit->text();
    s.defaultWeb = ui.defWebEdit->text();
    s.defaultMirror1 = ui.defMirror1Edit->text();
    s.defaultMirror2 = ui.defMirror2Edit->text();
    s.modDir = ui.modDirEdit->text();
    s.modelDir = ui.modelDirEdit->text();
    s.typeDir = ui.typesDirEdit->text();
    s.saveDir = ui.saveDirEdit->text();
    s.textDir = ui.textDirEdit->text();
    s.scriptDir = ui.scriptDirEdit->text();
    s.bodcomp = ui.bodcompCheck->isChecked();
    s.bodcompPath = ui.bodcompEdit->text();
    s.fastSave = ui.fastSaveCheck->isChecked();
    return s;
}

void ConfigDialog::chooseInto(QLineEdit* edit)
{
    const QString dir = FileDialogs::chooseDirectory(
        this, m_texts.own(CreatorText::ConfigChooseDir), edit->text());
    if (!dir.isEmpty())
        edit->setText(dir);
}

void ConfigDialog::Slot_OpenDir()
{
    QString dir = FileDialogs::chooseDirectory(this, m_texts.own(CreatorText::ChooseGameDir),
                                               m_ui->gameDirBox->currentText());
    if (dir.isEmpty())
        return;
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!IsValidGameDir(dir)) {
        QtPrompter(this).ask(Prompter::Icon::Warning, m_texts.own(CreatorText::ConfigGameDir),
                             m_texts.own(CreatorText::NotAGameDir).replace(QLatin1String("%1"), dir),
                             {m_texts.own(CreatorText::Ok)});
        return;
    }
    const int existing = m_ui->gameDirBox->findText(dir);
    if (existing >= 0)
        m_ui->gameDirBox->removeItem(existing);
    m_ui->gameDirBox->insertItem(0, dir);
    m_ui->gameDirBox->setCurrentIndex(0);
}

void ConfigDialog::Slot_OpenModDir() { chooseInto(m_ui->modDirEdit); }
void ConfigDialog::Slot_OpenModelDir() { chooseInto(m_ui->modelDirEdit); }
void ConfigDialog::Slot_OpenTypesDir() { chooseInto(m_ui->typesDirEdit); }
void ConfigDialog::Slot_OpenSaveDir() { chooseInto(m_ui->saveDirEdit); }
void ConfigDialog::Slot_OpenTextDir() { chooseInto(m_ui->textDirEdit); }
void ConfigDialog::Slot_OpenScriptDir() { chooseInto(m_ui->scriptDirEdit); }

void ConfigDialog::Slot_OpenBodcompDir()
{
    const QString file =
        FileDialogs::chooseFile(this, m_texts.own(CreatorText::ChooseCompiler),
                                m_ui->bodcompEdit->text(), QStringLiteral("bodcomp (bodcomp.exe)"));
    if (!file.isEmpty())
        m_ui->bodcompEdit->setText(file);
}
