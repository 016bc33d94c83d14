// The ship picker (form DSelectShip): the entries of a ship or cockpit table,
// from a plain, packed or catalogue file, sorted by name.
#pragma once

#include "imports.h"

#include <QDialog>

#include <memory>

namespace Ui {
class DSelectShip;
}
class UiTexts;

class SelectShip : public QDialog
{
    Q_OBJECT
public:
    // workDir takes the files unpacked on the way (removed again at once).
    SelectShip(const UiTexts& texts, PickerTable kind, const QString& programDir,
               const QString& workDir, const QString& language, const QString& startDir,
               QWidget* parent = nullptr);
    ~SelectShip() override;

    // Reads a table into the list; false (and the list empty) when it cannot be read.
    bool loadTable(const QString& path);
    // The chosen entries; the ship picker allows one, the cockpit picker several.
    QList<PickerEntry> chosen() const;
    const QList<PickerEntry>& entries() const { return m_entries; }
    Ui::DSelectShip* form() const { return m_ui.get(); }
    // The caption and filter of the file question.
    QString fileCaption() const;
    QString fileFilter() const;

public slots:
    void Slot_OpenFile();
    void Slot_Selected();

private:
    std::unique_ptr<Ui::DSelectShip> m_ui;
    const UiTexts& m_texts;
    PickerTable m_kind;
    QString m_programDir;
    QString m_workDir;
    QString m_language;
    QString m_startDir;
    QList<PickerEntry> m_entries;
};
