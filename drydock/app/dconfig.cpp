#include "dconfig.h"

#include "fileutils.h"
#include "installertexts.h"
#include "ui_config.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QBoxLayout>
#include <QCheckBox>

DConfig::DConfig(const UiTexts& texts, const InstallerSettings& settings, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::Config>()), m_settings(settings)
{
    m_ui->setupUi(this);
    using namespace InstallerText;
    setWindowTitle(PlainUiText(texts.own(ConfigCaption)));
    m_ui->languageLabel->setText(texts.own(LanguageLabel));
    m_ui->textGroup->setTitle(PlainUiText(texts.own(TextGroup)));
    m_ui->textNone->setText(texts.own(TextNone));
    m_ui->textList->setText(texts.own(TextList));
    m_ui->textCustom->setText(texts.own(TextCustom));
    m_ui->baseGroup->setTitle(PlainUiText(texts.own(BaseTypeGroup)));
    m_ui->baseStandard->setText(texts.own(BaseStandard));
    m_ui->baseFakePatch->setText(texts.own(BaseFakePatch));
    m_ui->loadingScreens->setText(texts.own(LoadingScreens));
    m_ui->debugLog->setText(texts.own(DebugLog));
    m_ui->doneButton->setText(texts.own(Done));
    m_ui->cancelButton->setText(texts.own(Cancel));

    // The language name travels as item data: a name may hold blanks.
    int current = -1;
    for (const UiTexts::Language& l : texts.languages()) {
        const QString label = l.translator.isEmpty()
                                  ? l.name
                                  : FormatText(texts.own(LanguageBy), l.name, l.translator);
        m_ui->languageBox->addItem(label, l.name);
        if (current < 0 && l.name.compare(settings.language, Qt::CaseInsensitive) == 0)
            current = m_ui->languageBox->count() - 1;
        m_ui->textListBox->addItem(QStringLiteral("%1 (%2)").arg(l.name).arg(l.id));
    }
    if (current < 0) {
        // A language the file does not offer (any more) stays chosen until changed.
        m_ui->languageBox->addItem(settings.language, settings.language);
        current = m_ui->languageBox->count() - 1;
    }
    m_ui->languageBox->setCurrentIndex(current);
    if (settings.textSelect >= 0 && settings.textSelect < m_ui->textListBox->count())
        m_ui->textListBox->setCurrentIndex(settings.textSelect);
    m_ui->textCustomBox->setValue(settings.textCustom);
    switch (settings.textOption) {
    case 1:
        m_ui->textList->setChecked(true);
        break;
    case 2:
        m_ui->textCustom->setChecked(true);
        break;
    default:
        m_ui->textNone->setChecked(true);
        break;
    }
    (settings.baseType == 1 ? m_ui->baseFakePatch : m_ui->baseStandard)->setChecked(true);
    m_ui->loadingScreens->setChecked(settings.loadingScreens);
    m_ui->debugLog->setChecked(settings.debugLog);
    m_preview = new QCheckBox(texts.own(PreviewSetting), this);
    m_preview->setObjectName(QStringLiteral("previewChanges"));
    m_preview->setChecked(settings.previewChanges);
    if (auto* box = qobject_cast<QBoxLayout*>(layout()))
        box->insertWidget(box->indexOf(m_ui->debugLog) + 1, m_preview);
    setTabOrder(m_ui->debugLog, m_preview);

    connect(m_ui->textList, &QRadioButton::toggled, this, &DConfig::updateEnabled);
    connect(m_ui->textCustom, &QRadioButton::toggled, this, &DConfig::updateEnabled);
    updateEnabled();
}

DConfig::~DConfig() = default;

void DConfig::updateEnabled()
{
    m_ui->textListBox->setEnabled(m_ui->textList->isChecked() && m_ui->textListBox->count() > 0);
    m_ui->textCustomBox->setEnabled(m_ui->textCustom->isChecked());
}

InstallerSettings DConfig::settings() const
{
    InstallerSettings s = m_settings;
    const QString language = m_ui->languageBox->currentData().toString();
    if (!language.isEmpty())
        s.language = language;
    s.textOption = m_ui->textList->isChecked() ? 1 : m_ui->textCustom->isChecked() ? 2 : 0;
    if (m_ui->textListBox->currentIndex() >= 0)
        s.textSelect = m_ui->textListBox->currentIndex();
    s.textCustom = m_ui->textCustomBox->value();
    s.loadingScreens = m_ui->loadingScreens->isChecked();
    s.debugLog = m_ui->debugLog->isChecked();
    s.previewChanges = m_preview->isChecked();
    s.baseType = m_ui->baseFakePatch->isChecked() ? 1 : 0;
    return s;
}
