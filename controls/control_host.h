#pragma once

// What the custom controls expect of the main window. Each method stands for one private
// message of the original dialog and runs synchronously on the window's thread, like a sent
// message. The controls find the host through MainWindowHost(); when no main window exists
// their messages go nowhere.

class QObject;
class QWidget;

namespace koru {

class ControlHost {
  public:
    virtual ~ControlHost() = default;

    // A click or Enter on a button (or an edit on behalf of one): id is the button's id,
    // parent the widget that holds it (its group box or the main window).
    virtual void Command(int id, QWidget* parent) = 0;
    // True while the commands of the controls in parent are refused (an operation runs and
    // parent is one of the groups that wait for it).
    virtual bool RefusesCommandsOf(const QWidget* parent) = 0;
    // True while FailureFlag is set: the status line is then drawn red.
    virtual bool StatusIsFailure() = 0;
    // The link was pressed: it repaints in the pressed colour.
    virtual void LinkPressed() = 0;
    // The link was released. Returns true, and forgets the press, when a press was pending;
    // the link opens its address only then.
    virtual bool LinkReleased() = 0;
    // A double-click on the left part of the status line: ask a running HEX save to stop.
    virtual void RequestSaveStop() = 0;
    // A function key F2..F12 released on a button; vk is its virtual-key code 0x71..0x7B.
    virtual void FunctionKey(int vk) = 0;
    // A double-click on the checksum field: the greeting box.
    virtual void ShowGreeting() = 0;
};

// The application's main window as the controls see it at the moment they send; nullptr when
// there is none.
ControlHost* MainWindowHost();
// Installs host as the main window; nullptr removes it. Window's thread only.
void SetMainWindowHost(ControlHost* host);

// Control ids: every custom control carries its id, so that tests and the window find controls
// by id and the controls single out the ids they act on.
void SetControlId(QObject* control, int id);
// The id given to control, or -1.
int ControlId(const QObject* control);

}  // namespace koru
