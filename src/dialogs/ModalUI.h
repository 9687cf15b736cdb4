#pragma once
// Every modal alert, sheet and open panel of the application goes through
// this one interface, so tests can answer them without a person and a run
// without a display logs them and takes the default button.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
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
    // A sheet ends with the tag of the button that closed it; this tag
    // confirms, any other cancels.
    static constexpr int kSheetConfirm = 200;
    static constexpr int kSheetCancel = 0;

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

    struct Sheet {
        QWidget* sheet = nullptr;  // the sheet's own window, built by the main window
        QWidget* window = nullptr; // the window it is attached to
        std::string name;          // for the log
    };
    // Called once, on the GUI thread, when the sheet ends.
    using SheetEnd = std::function<void(int returnCode)>;

    virtual ~ModalUI() = default;

    // Runs the alert to its end and returns the button's code.
    virtual int runAlert(const Alert& alert) = 0;
    // Begins the panel and returns at once; `end` runs when it closes.
    virtual void beginOpenPanel(const OpenPanel& panel, PanelEnd end) = 0;
    // The system alert sound.
    virtual void beep() = 0;

    // Begins the sheet and returns at once; `end` runs when endSheet is
    // called for it. A sheet already showing is left as it is.
    void beginSheet(const Sheet& sheet, SheetEnd end);
    // Ends a showing sheet with the code (its end runs, and it orders the
    // sheet out); false when the sheet is not showing.
    bool endSheet(QWidget* sheet, int returnCode);

    // The interface in use: real dialogs with a display, the headless one
    // without; tests install their own.
    static ModalUI& current();
    static void setCurrent(std::shared_ptr<ModalUI> ui);

protected:
    // Shows the sheet; whatever closes it calls endSheet.
    virtual void presentSheet(const Sheet& sheet) = 0;

private:
    std::mutex sheetsMutex_;
    std::map<QWidget*, SheetEnd> sheets_;
};
