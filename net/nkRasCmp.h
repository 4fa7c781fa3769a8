// The dial-up connection component: makes sure a dial-up network connection exists before a
// mail client opens its socket (adopting one that is up or dialling a phonebook entry), and
// hangs up what it dialled itself. The remote-access library is optional: it is loaded at run
// time and each of its functions looked up at the moment of use, so a system without it
// simply has no dial-up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/modules.h"
#include "platform/rasapi.h"
#include "platform/windows.h"
#include "toolkit/components.h"
#include "toolkit/exceptions.h"
#include "toolkit/stringlist.h"

class TTimeCounter;

// A remote-access error; the text is the library's own for the number, or "RAS error no N".
class ERASError : public Exception {
 public:
  explicit ERASError(uint32_t errorNumber);
};

using TRASNotifyEvent = std::function<void(TComponent* Sender, const std::string& RASStatusStr)>;

// An error the system reports for a connection after it was made arrives inside the event
// dispatch, where it cannot be raised. It is kept and raised, after hanging the connection up,
// by the next Connect or HangUp. Cancel never raises it: the socket client's Close calls Cancel
// on every exit, and the client's next Open reaches the error through Connect.
class TnkRas : public TComponent {
 public:
  static constexpr HRASCONN kNoConnection = 0xFFFFFFFF;

  explicit TnkRas(TComponent* owner = nullptr);
  ~TnkRas() override;
  const char* ClassName() const override { return "TnkRas"; }

  // Re-reads the names of the phonebook entries.
  const TStringList& RefreshEntries();
  const TStringList& Entries() const { return entries_; }
  // False without the library and also without any phonebook entry.
  bool RasAvailable() const { return !entries_.Empty(); }

  const std::string& Service() const { return service_; }
  // Takes a phonebook entry's name (any letter case) or ""; tells the user in a message box
  // when it cannot.
  void SetService(const std::string& name);
  bool ForceService() const { return forceService_; }
  void SetForceService(bool force) { forceService_ = force; }
  bool MinimizeAtConnect() const { return minimizeAtConnect_; }
  void SetMinimizeAtConnect(bool minimize) { minimizeAtConnect_ = minimize; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }
  bool RemovePassword() const { return removePassword_; }
  void SetRemovePassword(bool remove) { removePassword_ = remove; }
  int TimeOut() const;
  void SetTimeOut(int seconds);  // 0 or below: the wait ends at the first tick

  TRASNotifyEvent OnStatusChange;
  std::function<void(TComponent* Sender)> OnDisconnected;

  // Adopts a connection that is up or dials Service and waits for it. Raises ERASError,
  // ECanceledError or ETimedOutError.
  void Connect();
  // Hangs up a connection this component dialled; an adopted one stays up.
  void HangUp();
  // HangUp, and a Connect that is waiting stops with ECanceledError.
  void Cancel();

  bool Connected() const { return connected_; }
  uint32_t LastError() const { return lastError_; }
  HRASCONN ConnectionHandle() const { return connectionHandle_; }
  bool OwnConnection() const { return ownConnection_; }

  // The library's text for a connection state; "" for states it has no text for.
  std::string StatusText(uint32_t state) const;

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 private:
  template <typename F>
  F* RasProc(const char* name) const {
    return GetProc<F>(rasLibrary_, name);
  }
  // Stores a library result in LastError; a non-zero one raises ERASError.
  void Check(uint32_t result);
  bool FindConnection();
  bool FindConnectionWithIp(const RASCONNA* connections, uint32_t count);
  void Dial(RasGetEntryDialParamsFn* getParams, RasSetEntryDialParamsFn* setParams, RasDialFn* dial);
  void WaitForDial();
  void ResetState();
  void HangUpConnection();
  void RaiseStoredError();
  void MinimizeDialog();
  LRESULT HandleDialEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  TStringList entries_;
  std::string service_;
  HRASCONN connectionHandle_ = kNoConnection;
  UINT dialEventMessage_ = 0;
  HWND notifyWindow_ = 0;
  bool minimizeAtConnect_ = false;
  bool ownConnection_ = false;
  std::string password_;
  bool removePassword_ = true;
  HMODULE rasLibrary_ = 0;
  bool forceService_ = true;
  uint32_t lastError_ = 0;
  uint32_t storedError_ = 0;  // reported after the connection was made, not raised yet
  std::unique_ptr<TTimeCounter> timeCounter_;
  bool cancelled_ = false;
  bool connected_ = false;
};
