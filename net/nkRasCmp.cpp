#include "net/nkRasCmp.h"

#include <algorithm>
#include <vector>

#include "net/nkutils.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"

namespace {

constexpr uint32_t kMaxEntries = 25;
constexpr uint32_t kMaxConnections = 10;
constexpr int kDefaultTimeOut = 120;
constexpr int kWaitSliceMs = 1000;    // the time counter's tick wakes the wait anyway
constexpr int kDialogDelayMs = 1000;  // the system's dialog appears shortly after connecting
constexpr const char* kDialogClass = "#32770";

std::string RasErrorText(uint32_t errorNumber) {
  const HMODULE library = LoadLibrary(kRasModuleName);
  auto* getErrorString = GetProc<RasGetErrorStringFn>(library, "RasGetErrorStringA");
  char buffer[256] = {};
  const bool found = getErrorString != nullptr && getErrorString(errorNumber, buffer, sizeof buffer) == 0;
  if (library != 0) FreeLibrary(library);
  return found ? RasText(buffer) : LoadStr(sRasErrorNo) + std::to_string(errorNumber);
}

int StatusStringId(uint32_t state) {
  switch (state) {
    case RASCS_OpenPort: return kRasStrOpeningPort;
    case RASCS_ConnectDevice:
    case RASCS_DeviceConnected:
    case RASCS_AllDevicesConnected: return kRasStrConnectingDevice;
    case RASCS_Authenticate:
    case RASCS_StartAuthentication: return kRasStrAuthenticating;
    case RASCS_Authenticated: return kRasStrAuthenticated;
    case RASCS_LogonNetwork: return kRasStrLoggingOn;
    case RASCS_Connected: return kRasStrConnected;
    default: return 0;  // no such string: the empty text
  }
}

void ShowError(StringId text) { MessageBox(LoadStr(text), ApplicationTitle(), TMsgIcon::Error); }

}  // namespace

ERASError::ERASError(uint32_t errorNumber) : Exception(RasErrorText(errorNumber)) {}

TnkRas::TnkRas(TComponent* owner) : TComponent(owner), timeCounter_(std::make_unique<TTimeCounter>()) {
  if (owner == nullptr || !owner->Designing())
    notifyWindow_ = AllocateHWnd([this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
      return HandleDialEvent(window, message, wParam, lParam);
    });
  dialEventMessage_ = RegisterWindowMessage(kRasDialEventName);
  timeCounter_->SetTimeOut(kDefaultTimeOut);
  rasLibrary_ = LoadLibrary(kRasModuleName);
  RefreshEntries();
}

// A connection that is up stays up.
TnkRas::~TnkRas() {
  if (rasLibrary_ != 0) FreeLibrary(rasLibrary_);
  if (notifyWindow_ != 0) DeallocateHWnd(notifyWindow_);
}

const TStringList& TnkRas::RefreshEntries() {
  entries_.Clear();
  auto* enumEntries = RasProc<RasEnumEntriesFn>("RasEnumEntriesA");
  if (enumEntries == nullptr) return entries_;
  std::vector<RASENTRYNAMEA> names(kMaxEntries);
  names[0].dwSize = sizeof(RASENTRYNAMEA);
  auto size = static_cast<uint32_t>(names.size() * sizeof(RASENTRYNAMEA));
  uint32_t count = 0;
  // A failure (more entries than the array holds, too) leaves the list empty, without error.
  lastError_ = enumEntries(nullptr, nullptr, names.data(), &size, &count);
  if (lastError_ != 0) return entries_;
  for (uint32_t i = 0; i < std::min(count, kMaxEntries); ++i) entries_.Add(RasText(names[i].szEntryName));
  return entries_;
}

void TnkRas::SetService(const std::string& name) {
  if (name.empty()) {
    service_.clear();
    return;
  }
  if (!RasAvailable()) return ShowError(sRasNotDetected);
  if (connected_) return ShowError(sRasSetBeforeConnect);
  RefreshEntries();
  if (entries_.IndexOf(name) < 0) {
    service_.clear();
    return ShowError(sRasInvalidService);
  }
  service_ = name;
}

int TnkRas::TimeOut() const { return static_cast<int>(timeCounter_->TimeOut()); }

// The counter counts down from the value taken as signed, so 0 and below end at the first tick.
void TnkRas::SetTimeOut(int seconds) { timeCounter_->SetTimeOut(static_cast<uint32_t>(seconds)); }

void TnkRas::Check(uint32_t result) {
  lastError_ = result;
  if (result != 0) throw ERASError(result);
}

bool TnkRas::FindConnection() {
  auto* enumConnections = RasProc<RasEnumConnectionsFn>("RasEnumConnectionsA");
  if (enumConnections == nullptr) return false;
  std::vector<RASCONNA> connections(kMaxConnections);
  connections[0].dwSize = sizeof(RASCONNA);
  auto size = static_cast<uint32_t>(connections.size() * sizeof(RASCONNA));
  uint32_t count = 0;
  Check(enumConnections(connections.data(), &size, &count));
  count = std::min(count, kMaxConnections);
  for (uint32_t i = 0; i < count; ++i) {
    const RASCONNA& c = connections[i];
    // Entry names of active connections are compared exactly, letter case included.
    if (RasText(c.szEntryName) == service_ && c.hrasconn != connectionHandle_) {
      connectionHandle_ = c.hrasconn;
      return true;
    }
  }
  return !forceService_ && FindConnectionWithIp(connections.data(), count);
}

bool TnkRas::FindConnectionWithIp(const RASCONNA* connections, uint32_t count) {
  auto* getProjection = RasProc<RasGetProjectionInfoFn>("RasGetProjectionInfoA");
  if (getProjection == nullptr) return false;
  for (uint32_t i = 0; i < count; ++i) {
    RASPPPIPA ip{};
    ip.dwSize = sizeof ip;
    uint32_t size = sizeof ip;
    Check(getProjection(connections[i].hrasconn, RASP_PppIp, &ip, &size));
    if (!RasText(ip.szIpAddress).empty()) {
      connectionHandle_ = connections[i].hrasconn;
      return true;
    }
  }
  return false;
}

void TnkRas::Connect() {
  if (storedError_ != 0) {
    HangUpConnection();
    RaiseStoredError();
  }
  if (ownConnection_ && connectionHandle_ != kNoConnection) {
    // Dialling again would forget the handle of a connection only this component hangs up.
    if (connected_) return;
    HangUpConnection();  // a dial that an earlier time-out left running
  }
  if (FindConnection() || service_.empty()) {
    connected_ = true;
    ownConnection_ = false;
    return;
  }
  auto* getParams = RasProc<RasGetEntryDialParamsFn>("RasGetEntryDialParamsA");
  auto* setParams = RasProc<RasSetEntryDialParamsFn>("RasSetEntryDialParamsA");
  auto* dial = RasProc<RasDialFn>("RasDialA");
  if (getParams == nullptr || setParams == nullptr || dial == nullptr) return;
  ownConnection_ = true;
  ResetState();
  Dial(getParams, setParams, dial);
  WaitForDial();
  if (lastError_ != 0) {
    storedError_ = 0;  // raised here, together with a failure of the dial
    HangUpConnection();
    throw ERASError(lastError_);
  }
  if (cancelled_) throw ECanceledError();                // Cancel has hung up
  if (timeCounter_->TimedOut()) throw ETimedOutError();  // the dial goes on; HangUp ends it
  if (minimizeAtConnect_) MinimizeDialog();
}

void TnkRas::Dial(RasGetEntryDialParamsFn* getParams, RasSetEntryDialParamsFn* setParams, RasDialFn* dial) {
  RASDIALPARAMSA params{};
  params.dwSize = sizeof params;
  SetRasText(params.szEntryName, service_);
  int32_t passwordSaved = 0;
  Check(getParams(nullptr, &params, &passwordSaved));
  if (passwordSaved == 0) {
    SetRasText(params.szPassword, password_);
    Check(setParams(nullptr, &params, removePassword_ ? 1 : 0));
  }
  HRASCONN handle = 0;
  lastError_ = dial(nullptr, nullptr, &params, kRasNotifierHwnd, reinterpret_cast<void*>(notifyWindow_), &handle);
  if (handle != 0) connectionHandle_ = handle;
  if (lastError_ != 0) {
    HangUpConnection();  // a refused dial may still hold a handle
    throw ERASError(lastError_);
  }
}

void TnkRas::WaitForDial() {
  timeCounter_->Start();
  while (!connected_ && lastError_ == 0 && !cancelled_ && !timeCounter_->TimedOut()) WaitForEvents(kWaitSliceMs);
  timeCounter_->Stop();
}

void TnkRas::ResetState() {
  connectionHandle_ = kNoConnection;
  connected_ = false;
  cancelled_ = false;
  timeCounter_->SetTimedOut(false);
}

void TnkRas::HangUp() {
  HangUpConnection();
  RaiseStoredError();
}

void TnkRas::Cancel() {
  HangUpConnection();
  cancelled_ = true;
}

void TnkRas::HangUpConnection() {
  auto* hangUp = RasProc<RasHangUpFn>("RasHangUpA");
  if (hangUp == nullptr) return;
  const HRASCONN handle = connectionHandle_;
  connected_ = false;
  connectionHandle_ = kNoConnection;
  // Only a connection this component dialled is hung up, and only once: OnDisconnected
  // must not repeat on every later Cancel of the socket client.
  if (!RasAvailable() || !ownConnection_ || handle == kNoConnection) return;
  hangUp(handle);
  if (OnDisconnected) OnDisconnected(this);
}

void TnkRas::RaiseStoredError() {
  const uint32_t error = storedError_;
  storedError_ = 0;
  if (error != 0) throw ERASError(error);
}

void TnkRas::MinimizeDialog() {
  SleepProcessing(kDialogDelayMs);
  if (const HWND dialog = FindWindow(kDialogClass)) SendMessage(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

// Runs inside the event dispatch, so it raises nothing: a failed dial ends the wait of Connect
// through LastError, and an error after the connection was made is kept for Connect or HangUp.
LRESULT TnkRas::HandleDialEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != dialEventMessage_) return DefWindowProc(window, message, wParam, lParam);
  // A late notice of a dial that has been hung up belongs to no connection any more.
  if (connectionHandle_ == kNoConnection) return 0;
  const auto state = static_cast<uint32_t>(wParam);
  const auto error = static_cast<uint32_t>(lParam);
  if (OnStatusChange) OnStatusChange(this, StatusText(LoWord(state)));
  if (connectionHandle_ == kNoConnection) return 0;  // the handler hung up or cancelled
  if (!connected_) connected_ = state == RASCS_Connected;
  if (error != 0) {
    lastError_ = error;
    if (connected_) storedError_ = error;
  }
  return 0;
}

std::string TnkRas::StatusText(uint32_t state) const {
  char buffer[255] = {};
  LoadString(rasLibrary_, StatusStringId(state), buffer, sizeof buffer);
  return buffer;
}

void TnkRas::WriteProperties(TPropertyWriter& writer) const {
  TComponent::WriteProperties(writer);
  if (!service_.empty()) writer.Property("Service", TPropValue::Str(service_));
  if (!forceService_) writer.Property("ForceService", TPropValue::Bool(false));
  if (minimizeAtConnect_) writer.Property("MinimizeAtConnect", TPropValue::Bool(true));
  if (!password_.empty()) writer.Property("Password", TPropValue::Str(password_));
  if (!removePassword_) writer.Property("RemovePassword", TPropValue::Bool(false));
  if (TimeOut() != kDefaultTimeOut) writer.Property("TimeOut", TPropValue::Int(TimeOut()));
}

bool TnkRas::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name == "Service")
    SetService(value.text);  // the setter's checks run at load time too
  else if (name == "ForceService")
    forceService_ = value.boolean;
  else if (name == "MinimizeAtConnect")
    minimizeAtConnect_ = value.boolean;
  else if (name == "Password")
    password_ = value.text;
  else if (name == "RemovePassword")
    removePassword_ = value.boolean;
  else if (name == "TimeOut")
    SetTimeOut(static_cast<int>(value.integer));
  else
    return TComponent::ReadProperty(name, value);
  return true;
}
