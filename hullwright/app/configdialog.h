// The settings dialog (form DConfigDialog): edits a copy of the settings; the
// main window takes them back when the dialog is accepted with "Done".
#pragma once

#include "creatorsettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class DConfigDialog;
}
class QLineEdit;
class UiTexts;

class ConfigDialog : public QDialog
{
    Q_OBJECT
public:
    ConfigDialog(const UiTexts& texts, const CreatorSettings& settings, QWidget* parent = nullptr);
    ~ConfigDialog() override;

    CreatorSettings settings() const;
    Ui::DConfigDialog* form() const { return m_ui.get(); }

public slots:
    void Slot_OpenDir();
    void Slot_OpenModDir();
    void Slot_OpenModelDir();
    void Slot_OpenTypesDir();
    void Slot_OpenSaveDir();
    void Slot_OpenTextDir();
    void Slot_OpenBodcompDir();
    void Slot_OpenScriptDir();

private:
    void chooseInto(QLineEdit* edit);
    void updateEnabled();

    std::unique_ptr<Ui::DConfigDialog> m_ui;
    const UiTexts& m_texts;
    CreatorSettings m_settings;
};
