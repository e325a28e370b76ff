#pragma once
// Form1, the main window: page 1 of the grid and, below it, the settings
// area (value fields, the hidden settings editor, the commands) and the red
// status line.

#include "commands.h"
#include "gridpage.h"
#include "startup.h"
#include "valuefields.h"

#include <QComboBox>
#include <QFrame>
#include <QPushButton>

#include <vector>

namespace lumo {

class MainWindow : public GridPage, public StartupWindow, public SettingsEditor {
    Q_OBJECT
public:
    MainWindow(const QString& title, ValueFields& fields, QWidget* parent = nullptr);

    // StartupWindow
    Status removeCloseCommand() override;
    Status selectCountEntry(const std::string& entry) override;
    Status makeIntervalEntryDigitsOnly() override;

    // SettingsEditor
    void setEditorVisible(bool visible) override;
    void setChangeCommandEnabled(bool enabled) override;
    void setIntervalText(const std::string& text) override;
    std::string intervalText() const override;
    void selectCount(const std::string& entry) override;
    void selectBaud(const std::string& entry) override;
    void selectPort(const std::string& entry) override;
    std::string countText() const override;
    std::string baudText() const override;
    std::string portText() const override;

    void centreOnScreen();

    QLineEdit* valueField(ValueField field) const;
    QComboBox* countList() const { return combo1_; }     // Combo1
    QComboBox* portList() const { return combo3_; }      // Combo3
    QComboBox* baudList() const { return combo2_; }      // Combo2
    QLineEdit* intervalEntry() const { return text1_; }  // Text1
    QPushButton* changeButton() const { return command3_; }
    QPushButton* confirmButton() const { return command2_; }
    QPushButton* exitButton() const { return end_; }
    const std::vector<QWidget*>& editorElements() const { return editor_; }
    // How publishing to the plant network goes; hidden when the station does
    // not publish. Below the editor box, left of the status line.
    QLineEdit* publishField() const { return publish_; }
    void showPublishState(const std::string& text);
    // How the history goes, when there is something to tell (it stopped,
    // and why); hidden otherwise. The bottom line of the window.
    QLineEdit* historyField() const { return history_; }
    void showHistoryState(const std::string& text);
    // "趋势" and "日流量", right of the grid; shown while history is kept.
    QPushButton* trendButton() const { return trend_; }
    QPushButton* dailyButton() const { return daily_; }

private:
    void buildSettingsArea();
    QLabel* addCaption(const char* text, int left, int top, int width, int height);
    QLineEdit* addValueField(const char* accessibleName, int left, int top, int width, int height);
    QLineEdit* addTextLine(const char* accessibleName, const char* colour, int left, int top, int width, int height);
    QFrame* addLine(int x1, int y1, int x2, int y2);
    QComboBox* addList(const QStringList& entries, int left, int top, int width, int height);

    ValueFields& fields_;
    std::array<QLineEdit*, 5> values_{};
    QComboBox* combo1_ = nullptr;
    QComboBox* combo2_ = nullptr;
    QComboBox* combo3_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QPushButton* command3_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* end_ = nullptr;
    QLineEdit* publish_ = nullptr;
    QLineEdit* history_ = nullptr;
    QPushButton* trend_ = nullptr;
    QPushButton* daily_ = nullptr;
    std::vector<QWidget*> editor_;
};

}  // namespace lumo
