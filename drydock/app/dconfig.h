// The installer's settings dialog (form "Config"): UI language, the extra text
// language, loading screens, the debug log and the base mod type. It only edits
// a copy; the main window applies an accepted result.
#pragma once

#include "installersettings.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class UiTexts;

namespace Ui {
class Config;
}

class DConfig : public QDialog
{
    Q_OBJECT
public:
    DConfig(const UiTexts& texts, const InstallerSettings& settings, QWidget* parent = nullptr);
    ~DConfig() override;

    // The settings the dialog was filled from, with the dialog's choices.
    InstallerSettings settings() const;

private:
    void updateEnabled();

    std::unique_ptr<Ui::Config> m_ui;
    InstallerSettings m_settings;
    QCheckBox* m_preview = nullptr;
};
