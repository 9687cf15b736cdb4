#pragma once
// Every modal alert, sheet and open panel of the application goes through
// this one interface, so tests can answer them without a person and a run
// without a display logs them and takes the default button.

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

class ModalUI {
public:
    // Return codes of an alert, as the legacy alert API numbers them.
    static constexpr int kDefaultReturn = 1;
    static constexpr int kAlternateReturn = 0;
    static constexpr int kOtherReturn = -1;
    // Return codes of an open panel.
    static constexpr int kPanelCancel = 0;
    static constexpr int kPanelOK = 1;

    struct Alert {
        std::string message;
        std::string informativeText;
        std::string defaultButton = "OK";
        std::string alternateButton; // empty: none
        std::string otherButton;     // empty: none
        QWidget* window = nullptr;   // window the alert belongs to, if any
    };

    struct OpenPanel {
        std::string message;
        std::string prompt;
        bool canChooseDirectories = true;
        bool canChooseFiles = false;
        bool canCreateDirectories = true;
        bool allowsMultipleSelection = false;
        std::string directory;     // starting folder; empty lets the panel choose
        QWidget* window = nullptr; // the panel is a window-modal sheet on it
    };
    // Called once, on the GUI thread, when the panel ends.
    using PanelEnd = std::function<void(int returnCode, const std::vector<std::string>& paths)>;

    virtual ~ModalUI() = default;

    // Runs the alert to its end and returns the button's code.
    virtual int runAlert(const Alert& alert) = 0;
    // Begins the panel and returns at once; `end` runs when it closes.
    virtual void beginOpenPanel(const OpenPanel& panel, PanelEnd end) = 0;
    // The system alert sound.
    virtual void beep() = 0;

    // The interface in use: real dialogs with a display, the headless one
    // without; tests install their own.
    static ModalUI& current();
    static void setCurrent(std::shared_ptr<ModalUI> ui);
};
