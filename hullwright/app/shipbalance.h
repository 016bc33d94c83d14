// "Balance Ship" (form DShipBalance): the ship's statistics as nine sliders
// relative to one profile, the average, the automatic modes and the detailed
// values. Bound to a Balancer; the main window takes record() after "Done".
#pragma once

#include "balancer.h"

#include <QDialog>

#include <memory>

namespace Ui {
class DShipBalance;
}
class ClassChart;
class QSlider;
class UiTexts;

class ShipBalance : public QDialog
{
    Q_OBJECT
public:
    // The profile must be usable; the record is loaded at once (see loaded()).
    ShipBalance(const UiTexts& texts, const ProfileFile& profile, const QString& record,
                QWidget* parent = nullptr);
    ~ShipBalance() override;

    // False when the record cannot be balanced; loadError() says why.
    bool loaded() const { return m_loaded; }
    QString loadError() const { return m_loadError; }
    // The record rebuilt from the sliders.
    QString record() const { return m_balancer.record(); }
    const Balancer& balancer() const { return m_balancer; }
    const BalanceRun& lastRun() const { return m_lastRun; }
    Ui::DShipBalance* form() const { return m_ui.get(); }
    QSlider* slider(BalanceSlider s) const;
    // The chart of the profile's class beside the sliders; it shows a note until
    // showClassChart() gives it the game's ship table.
    ClassChart* classChart() const { return m_chart; }
    void showClassChart(const QString& gameDir, const QString& tempFolder);

public slots:
    void Slot_Balance();
    void Slot_SetAverage();
    void Slot_UpdateData();
    void Slot_Details();
    void Slot_SliderSpeed();
    void Slot_SliderAccel();
    void Slot_SliderReactor();
    void Slot_SliderWeapons();
    void Slot_SliderWeapRecharge();
    void Slot_SliderCargo();
    void Slot_SliderShields();
    void Slot_SliderHull();
    void Slot_SliderTurning();

private:
    QString text(int n) const;
    void sliderChanged(BalanceSlider s);
    void runBalance(std::optional<BalanceSlider> moved);
    // Sliders from the balancer, with the busy flag set.
    void writeSliders();
    BalanceMode mode() const;
    QString valueText(BalanceSlider s) const;

    std::unique_ptr<Ui::DShipBalance> m_ui;
    const UiTexts& m_texts;
    ProfileFile m_profile;
    Balancer m_balancer;
    BalanceRun m_lastRun;
    bool m_loaded = false;
    QString m_loadError;
    bool m_busy = false;
    QString m_shieldsNote;
    ClassChart* m_chart = nullptr;
};
