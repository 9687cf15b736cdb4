#pragma once
// The main window, loaded from resources/MainWindow.ui: the anchors of the
// folder rows, the settings bound to their preference keys, the commands
// and the display-only keys. It connects its outlets and actions to the
// application delegate, as the main interface resource does.

#include <QMainWindow>

#include <memory>

class AppDelegate;
class StateButton;
namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(std::shared_ptr<AppDelegate> delegate, QWidget* parent = nullptr);
    ~MainWindow() override;

    StateButton* toggleButton() const;
    // Wide enough for folder paths to be read, in the font's own measure.
    QSize sizeHint() const override;

signals:
    // The window has been on screen, painted, for the first time.
    void firstShown();

protected:
    // The delegate decides: a busy application keeps its window unless forced.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectOutlets();
    void connectActions();
    void bindPreferences();

    std::unique_ptr<Ui::MainWindow> ui_;
    std::shared_ptr<AppDelegate> delegate_;
    bool shown_ = false;
};
