#include "platform/rasapi.h"

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>

#include "platform/modules.h"
#include "toolkit/strutils.h"

namespace {

using RasStandIn::Connection;
using RasStandIn::DialRecord;
using RasStandIn::DialStep;
using RasStandIn::Entry;

struct ActiveDial {
  HRASCONN handle;
  HWND window;
  std::string entry;
  std::vector<DialStep> steps;
  std::string ipAddress;
  int delayMs;
  size_t next = 0;
};

struct State {
  std::vector<Entry> phonebook;
  std::vector<Connection> connections;
  std::vector<ActiveDial> dials;
  RasStandIn::DialPlan plan;
  std::vector<DialRecord> dialRecords;
  std::vector<HRASCONN> hungUp;
  HRASCONN nextHandle = 0x100;
  std::unique_ptr<QObject> timers;  // context of the pending dial steps: deleting it stops them
};

State& state() {
  static State s;
  return s;
}

const std::map<uint32_t, const char*> kErrorTexts = {
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BUFFER_TOO_SMALL, "The buffer is too small."},
    {ERROR_CANNOT_OPEN_PHONEBOOK, "The phone book could not be opened."},
    {ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, "The phone book entry of this connection was not found."},
    {ERROR_INVALID_SIZE, "The structure size is incorrect."},
    {629, "The connection was closed by the remote computer."},
    {676, "The line is busy."},
    {678, "There is no answer."},
    {680, "There is no dial tone."},
    {691, "Access denied: the user name or the password is not valid."},
};

Entry* FindEntryNamed(const std::string& name) {
  for (Entry& e : state().phonebook)
    if (SameText(e.name, name)) return &e;
  return nullptr;
}

ActiveDial* FindDial(HRASCONN handle) {
  for (ActiveDial& d : state().dials)
    if (d.handle == handle) return &d;
  return nullptr;
}

Connection* FindConnectionOf(HRASCONN handle) {
  for (Connection& c : state().connections)
    if (c.handle == handle) return &c;
  return nullptr;
}

// Fills an array of size-checked records as the enumeration calls do: the caller's first
// record carries the record size, the buffer must hold every record.
template <typename Record, typename Fill>
uint32_t FillRecords(Record* records, uint32_t* bufferSize, uint32_t* count, size_t n, Fill fill) {
  if (records == nullptr || bufferSize == nullptr || count == nullptr) return ERROR_INVALID_PARAMETER;
  if (records->dwSize != sizeof(Record)) return ERROR_INVALID_SIZE;
  const auto needed = static_cast<uint32_t>(n * sizeof(Record));
  *count = 0;
  if (*bufferSize < needed) {
    *bufferSize = needed;
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < n; ++i) {
    records[i] = Record{};
    records[i].dwSize = sizeof(Record);
    fill(records[i], i);
  }
  *bufferSize = needed;
  *count = static_cast<uint32_t>(n);
  return 0;
}

uint32_t EnumEntries(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries, uint32_t* bufferSize,
                     uint32_t* count) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (phonebook != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;
  const auto& book = state().phonebook;
  return FillRecords(entries, bufferSize, count, book.size(),
                     [&](RASENTRYNAMEA& r, size_t i) { SetRasText(r.szEntryName, book[i].name); });
}

uint32_t EnumConnections(RASCONNA* connections, uint32_t* bufferSize, uint32_t* count) {
  const auto& table = state().connections;
  return FillRecords(connections, bufferSize, count, table.size(), [&](RASCONNA& r, size_t i) {
    r.hrasconn = table[i].handle;
    SetRasText(r.szEntryName, table[i].entry);
    SetRasText(r.szDeviceType, "modem");
    SetRasText(r.szDeviceName, "Stand-in modem");
  });
}

uint32_t GetProjectionInfo(HRASCONN handle, uint32_t projection, void* info, uint32_t* infoSize) {
  if (projection != RASP_PppIp || info == nullptr || infoSize == nullptr) return ERROR_INVALID_PARAMETER;
  const Connection* c = FindConnectionOf(handle);
  if (c == nullptr) return ERROR_INVALID_HANDLE;
  if (*infoSize < sizeof(RASPPPIPA)) {
    *infoSize = sizeof(RASPPPIPA);
    return ERROR_BUFFER_TOO_SMALL;
  }
  auto* ip = static_cast<RASPPPIPA*>(info);
  if (ip->dwSize != sizeof(RASPPPIPA)) return ERROR_INVALID_SIZE;
  if (c->projectionError != 0) return c->projectionError;
  ip->dwError = 0;
  SetRasText(ip->szIpAddress, c->ipAddress);
  return 0;
}

// The checks every call that takes dial parameters makes; the entry they name, or an error.
uint32_t CheckDialParams(const char* phonebook, const RASDIALPARAMSA* params, Entry** entry) {
  if (params == nullptr) return ERROR_INVALID_PARAMETER;
  if (phonebook != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;
  if (params->dwSize != sizeof(RASDIALPARAMSA)) return ERROR_INVALID_SIZE;
  *entry = FindEntryNamed(RasText(params->szEntryName));
  return *entry == nullptr ? ERROR_CANNOT_FIND_PHONEBOOK_ENTRY : 0;
}

uint32_t GetEntryDialParams(const char* phonebook, RASDIALPARAMSA* params, int32_t* passwordSaved) {
  Entry* e = nullptr;
  if (passwordSaved == nullptr) return ERROR_INVALID_PARAMETER;
  if (const uint32_t error = CheckDialParams(phonebook, params, &e)) return error;
  SetRasText(params->szUserName, e->userName);
  SetRasText(params->szPassword, e->passwordSaved ? e->password : std::string());
  *passwordSaved = e->passwordSaved ? 1 : 0;
  return 0;
}

uint32_t SetEntryDialParams(const char* phonebook, RASDIALPARAMSA* params, int32_t removePassword) {
  Entry* e = nullptr;
  if (const uint32_t error = CheckDialParams(phonebook, params, &e)) return error;
  e->userName = RasText(params->szUserName);
  e->passwordSaved = removePassword == 0;
  e->password = e->passwordSaved ? RasText(params->szPassword) : std::string();
  return 0;
}

void ScheduleStep(HRASCONN handle, int delayMs);

// Posts the next step of a dial that is still open.
void RunStep(HRASCONN handle) {
  ActiveDial* d = FindDial(handle);
  if (d == nullptr || d->next >= d->steps.size()) return;
  const DialStep step = d->steps[d->next++];
  // The connection is listed by the time its notifier hears of it.
  if (step.state == RASCS_Connected && step.error == 0 && FindConnectionOf(handle) == nullptr)
    state().connections.push_back({d->entry, d->ipAddress, 0, handle});
  PostMessage(d->window, RegisterWindowMessage(kRasDialEventName), step.state, step.error);
  if (d->next < d->steps.size()) ScheduleStep(handle, d->delayMs);
}

void ScheduleStep(HRASCONN handle, int delayMs) {
  QTimer::singleShot(delayMs, state().timers.get(), [handle] { RunStep(handle); });
}

uint32_t Dial(void* extensions, const char* phonebook, RASDIALPARAMSA* params, uint32_t notifierType, void* notifier,
              HRASCONN* connection) {
  Entry* e = nullptr;
  const auto window = reinterpret_cast<HWND>(notifier);
  if (extensions != nullptr || connection == nullptr) return ERROR_INVALID_PARAMETER;
  if (notifierType != kRasNotifierHwnd || !IsWindow(window)) return ERROR_INVALID_PARAMETER;
  if (const uint32_t error = CheckDialParams(phonebook, params, &e)) return error;
  State& s = state();
  const HRASCONN handle = s.nextHandle++;
  *connection = handle;
  s.dialRecords.push_back({RasText(params->szEntryName), RasText(params->szPassword), notifierType, window, handle});
  // Like the real call, a failing dial still hands out a handle that must be hung up.
  const bool fails = s.plan.dialResult != 0;
  s.dials.push_back(
      {handle, window, e->name, fails ? std::vector<DialStep>{} : s.plan.steps, s.plan.ipAddress, s.plan.stepDelayMs});
  if (fails) return s.plan.dialResult;
  ScheduleStep(handle, s.plan.stepDelayMs);
  return 0;
}

uint32_t HangUp(HRASCONN handle) {
  State& s = state();
  s.hungUp.push_back(handle);
  const auto dials = std::erase_if(s.dials, [&](const ActiveDial& d) { return d.handle == handle; });
  const auto connections = std::erase_if(s.connections, [&](const Connection& c) { return c.handle == handle; });
  return dials + connections == 0 ? ERROR_INVALID_HANDLE : 0;
}

uint32_t GetErrorString(uint32_t error, char* buffer, uint32_t bufferSize) {
  auto it = kErrorTexts.find(error);
  if (buffer == nullptr || it == kErrorTexts.end()) return ERROR_INVALID_PARAMETER;
  const size_t length = std::strlen(it->second);
  if (bufferSize <= length) return ERROR_BUFFER_TOO_SMALL;
  std::memcpy(buffer, it->second, length + 1);
  return 0;
}

template <typename F>
FARPROC Export(F* function) {
  return reinterpret_cast<FARPROC>(function);
}

ModuleDefinition Definition() {
  ModuleDefinition d;
  d.exports = {
      {"RasEnumEntriesA", Export<RasEnumEntriesFn>(EnumEntries)},
      {"RasEnumConnectionsA", Export<RasEnumConnectionsFn>(EnumConnections)},
      {"RasGetProjectionInfoA", Export<RasGetProjectionInfoFn>(GetProjectionInfo)},
      {"RasGetEntryDialParamsA", Export<RasGetEntryDialParamsFn>(GetEntryDialParams)},
      {"RasSetEntryDialParamsA", Export<RasSetEntryDialParamsFn>(SetEntryDialParams)},
      {"RasDialA", Export<RasDialFn>(Dial)},
      {"RasHangUpA", Export<RasHangUpFn>(HangUp)},
      {"RasGetErrorStringA", Export<RasGetErrorStringFn>(GetErrorString)},
  };
  d.strings = {
      {kRasStrOpeningPort, "Opening port..."},
      {kRasStrConnectingDevice, "Connecting device..."},
      {kRasStrAuthenticating, "Verifying user name and password..."},
      {kRasStrLoggingOn, "Registering your computer on the network..."},
      {kRasStrConnected, "Connected"},
      {kRasStrAuthenticated, "Authenticated"},
  };
  return d;
}

}  // namespace

namespace RasStandIn {

void Register() {
  State& s = state();
  s = State{};
  s.plan.steps = {{RASCS_OpenPort}, {RASCS_ConnectDevice}, {RASCS_Authenticate}, {RASCS_Connected}};
  s.timers = std::make_unique<QObject>();
  UnregisterModule(kRasModuleName);  // also shows every hidden export again
  RegisterModule(kRasModuleName, Definition());
}

void Unregister() {
  UnregisterModule(kRasModuleName);
  state() = State{};
}

void AddEntry(const Entry& entry) { state().phonebook.push_back(entry); }

void RemoveEntry(const std::string& name) {
  std::erase_if(state().phonebook, [&](const Entry& e) { return SameText(e.name, name); });
}

Entry FindEntry(const std::string& name) {
  const Entry* e = FindEntryNamed(name);
  return e == nullptr ? Entry{} : *e;
}

HRASCONN AddConnection(Connection connection) {
  connection.handle = state().nextHandle++;
  state().connections.push_back(connection);
  return connection.handle;
}

std::vector<Connection> Connections() { return state().connections; }

void SetDialPlan(DialPlan plan) { state().plan = std::move(plan); }

std::vector<DialRecord> Dials() { return state().dialRecords; }

std::vector<HRASCONN> HungUp() { return state().hungUp; }

}  // namespace RasStandIn
