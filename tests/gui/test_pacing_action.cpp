// The pacing menu action: what it starts with, what it changes and what it keeps.
#include "DataExchange.h"
#include "PacingAction.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <gtest/gtest.h>

TEST(PacingAction, StartsFromTheSettingAppliesAndKeepsTheChoice)
{
    irtest::ScopedDataRoot root;
    {
        // Unknown text counts as the default.
        QSettings s(SettingsStore::settingsPath(), QSettings::IniFormat);
        s.setValue("Pacing", "sometimes");
    }
    DataExchange::setPacing(DataExchange::Pacing::Reply);
    QMenu menu;
    QLabel label;
    QAction* act = addPacingAction(&menu, &label);
    EXPECT_EQ(act->text(), QStringLiteral("快速应答模式"));
    EXPECT_TRUE(act->isCheckable());
    EXPECT_FALSE(act->isChecked());
    EXPECT_EQ(DataExchange::pacing(), DataExchange::Pacing::Fixed);
    const QString fixedText = label.text();

    act->setChecked(true);
    EXPECT_EQ(DataExchange::pacing(), DataExchange::Pacing::Reply);
    EXPECT_NE(label.text(), fixedText) << "the strip shows the change";
    EXPECT_EQ(QSettings(SettingsStore::settingsPath(), QSettings::IniFormat).value("Pacing").toString(), "reply");

    // The next start takes it up again.
    DataExchange::setPacing(DataExchange::Pacing::Fixed);
    QMenu again;
    EXPECT_TRUE(addPacingAction(&again, nullptr)->isChecked());
    EXPECT_EQ(DataExchange::pacing(), DataExchange::Pacing::Reply);
    DataExchange::setPacing(DataExchange::Pacing::Fixed);
}
