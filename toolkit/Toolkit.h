#pragma once
// The few toolkit services the link layer and the serial port need. Two bindings exist: the Qt one the
// program runs on, and a virtual-time one that tests drive on a simulated clock.
#include <exception>
#include <functional>
#include <memory>
#include <string>

enum class TMessageKind { mkInformation, mkError };

// A periodic timer like the toolkit's own: enabling a running timer does not restart it.
class TTimer {
 public:
  virtual ~TTimer() = default;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetInterval(int milliseconds) = 0;
  virtual int Interval() const = 0;

  std::function<void()> OnTimer;
};

class TToolkit {
 public:
  virtual ~TToolkit() = default;

  virtual std::unique_ptr<TTimer> CreateTimer() = 0;

  // User-interface thread: handles what is pending; when nothing is, blocks until something arrives and
  // handles that. Never spins.
  virtual void ProcessMessages() = 0;

  // User-interface thread: a modal box with one OK button. Messages go on being handled while it is open.
  virtual void MessageBox(const std::string& text, const std::string& caption, TMessageKind kind) = 0;

  // Worker thread: runs `method` on the user-interface thread and blocks until it has run there. An error
  // it raises is raised again here. Called on the user-interface thread, it runs `method` directly.
  virtual void Synchronize(const std::function<void()>& method) = 0;

  // Worker thread: hands `procedure` to the user-interface thread and blocks only until the procedure
  // calls its reply function or returns, whichever comes first (a sent window message).
  virtual void SendMessage(const std::function<void(const std::function<void()>& reply)>& procedure) = 0;

  // Any thread: runs `method` on the user-interface thread later, without waiting.
  virtual void Post(const std::function<void()>& method) = 0;

  // User-interface thread: blocks until `done` holds, running synchronise requests and sent messages (and
  // nothing else) meanwhile. Whoever makes `done` true calls WakeWaiters afterwards.
  virtual void WaitServing(const std::function<bool()>& done) = 0;
  virtual void WakeWaiters() = 0;

  // Blocks until `done` holds while something outside the program gets on (a network connection being
  // made). On the user-interface thread the windows keep painting and timers run, but the operator's
  // input waits until afterwards, so nothing the operator does starts inside the wait. Other threads
  // simply block. Whoever makes `done` true calls WakeWaiters afterwards.
  virtual void WaitOutside(const std::function<bool()>& done) = 0;
};

// The binding in use. The program installs the Qt binding at start; tests install the virtual one.
TToolkit& Toolkit();
void SetToolkit(TToolkit* toolkit);
bool ToolkitInstalled();

// The application's one error display: every entry point from the toolkit runs inside Guarded, which
// shows the text of an escaping error in an error box and returns to the loop.
void Guarded(const std::function<void()>& handler);
void ShowException(const std::exception& error);
void ShowException(std::exception_ptr error);

// Caption of the application's error display.
extern const char* const ApplicationTitle;
