// The remote-access library "rasapi32.dll": its records, constants and export signatures,
// and an in-process stand-in of the module for tests. Linux has no such library, so on an
// ordinary run the module is not registered and LoadLibrary("rasapi32.dll") gives 0.
//
// The stand-in works over a phonebook and a connection table that a test fills. A dial runs
// the steps of the current dial plan: each step is posted as a "RASDIALEVENT" message
// (state in wParam, error in lParam) to the notify window from the event loop, each the plan's
// delay after the one before, and no step is posted once the dial was hung up.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows.h"

inline constexpr const char* kRasModuleName = "rasapi32.dll";
inline constexpr const char* kRasDialEventName = "RASDIALEVENT";

using HRASCONN = uint32_t;

constexpr size_t RAS_MaxEntryName = 256;
constexpr size_t RAS_MaxDeviceType = 16;
constexpr size_t RAS_MaxDeviceName = 128;
constexpr size_t RAS_MaxPhoneNumber = 128;
constexpr size_t RAS_MaxCallbackNumber = 128;
constexpr size_t RAS_MaxIpAddress = 15;
constexpr size_t UNLEN = 256;
constexpr size_t PWLEN = 256;
constexpr size_t DNLEN = 15;

struct RASENTRYNAMEA {
  uint32_t dwSize;
  char szEntryName[RAS_MaxEntryName + 1];
};

struct RASCONNA {
  uint32_t dwSize;
  HRASCONN hrasconn;
  char szEntryName[RAS_MaxEntryName + 1];
  char szDeviceType[RAS_MaxDeviceType + 1];
  char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASPPPIPA {
  uint32_t dwSize;
  uint32_t dwError;
  char szIpAddress[RAS_MaxIpAddress + 1];
};

struct RASDIALPARAMSA {
  uint32_t dwSize;
  char szEntryName[RAS_MaxEntryName + 1];
  char szPhoneNumber[RAS_MaxPhoneNumber + 1];
  char szCallbackNumber[RAS_MaxCallbackNumber + 1];
  char szUserName[UNLEN + 1];
  char szPassword[PWLEN + 1];
  char szDomain[DNLEN + 1];
};

// The sizes the library checks through the size fields.
static_assert(sizeof(RASENTRYNAMEA) == 264);
static_assert(sizeof(RASCONNA) == 412);
static_assert(sizeof(RASPPPIPA) == 24);
static_assert(sizeof(RASDIALPARAMSA) == 1052);

// Connection states reported with RASDIALEVENT.
enum RASCONNSTATE : uint32_t {
  RASCS_OpenPort = 0,
  RASCS_PortOpened = 1,
  RASCS_ConnectDevice = 2,
  RASCS_DeviceConnected = 3,
  RASCS_AllDevicesConnected = 4,
  RASCS_Authenticate = 5,
  RASCS_Authenticated = 14,
  RASCS_StartAuthentication = 19,
  RASCS_LogonNetwork = 21,
  RASCS_Connected = 0x2000,
  RASCS_Disconnected = 0x2001,
};

constexpr uint32_t RASP_PppIp = 0x8021;
constexpr uint32_t kRasNotifierHwnd = 0xFFFFFFFF;  // RasDialA notifier is a window

// Error numbers the library returns.
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_BUFFER_TOO_SMALL = 603;
constexpr uint32_t ERROR_CANNOT_OPEN_PHONEBOOK = 621;
constexpr uint32_t ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623;
constexpr uint32_t ERROR_INVALID_SIZE = 632;

// String table ids of the state texts.
constexpr int kRasStrOpeningPort = 120;
constexpr int kRasStrConnectingDevice = 122;
constexpr int kRasStrAuthenticating = 124;
constexpr int kRasStrLoggingOn = 128;
constexpr int kRasStrConnected = 129;
constexpr int kRasStrAuthenticated = 131;

using RasEnumEntriesFn = uint32_t(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries,
                                  uint32_t* bufferSize, uint32_t* count);
using RasEnumConnectionsFn = uint32_t(RASCONNA* connections, uint32_t* bufferSize, uint32_t* count);
using RasGetProjectionInfoFn = uint32_t(HRASCONN connection, uint32_t projection, void* info, uint32_t* infoSize);
using RasGetEntryDialParamsFn = uint32_t(const char* phonebook, RASDIALPARAMSA* params, int32_t* passwordSaved);
using RasSetEntryDialParamsFn = uint32_t(const char* phonebook, RASDIALPARAMSA* params, int32_t removePassword);
using RasDialFn = uint32_t(void* extensions, const char* phonebook, RASDIALPARAMSA* params, uint32_t notifierType,
                           void* notifier, HRASCONN* connection);
using RasHangUpFn = uint32_t(HRASCONN connection);
using RasGetErrorStringFn = uint32_t(uint32_t error, char* buffer, uint32_t bufferSize);

// The text of a fixed-size character field, which a faulty library may leave unterminated.
template <size_t N>
std::string RasText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// Stores text in a fixed-size field, cut to fit, always terminated.
template <size_t N>
void SetRasText(char (&field)[N], std::string_view text) {
  const size_t n = text.size() < N ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

// The stand-in module, for tests. Every function runs on the application thread.
namespace RasStandIn {

struct Entry {
  std::string name{};
  bool passwordSaved = false;
  std::string password{};  // the saved password
  std::string userName{};
};

struct Connection {
  std::string entry{};
  std::string ipAddress{};       // empty: the connection has no IP projection
  uint32_t projectionError = 0;  // non-zero: RasGetProjectionInfoA fails with it
  HRASCONN handle = 0;           // given by AddConnection
};

struct DialStep {
  uint32_t state;
  uint32_t error = 0;
};

// What the next dials do. A plan without a step RASCS_Connected never finishes; a step that
// carries an error fails the dial (it stays open until hung up, as on the real system).
struct DialPlan {
  std::vector<DialStep> steps;
  uint32_t dialResult = 0;             // non-zero: RasDialA itself fails with it
  std::string ipAddress = "10.0.0.2";  // of the connection a finished dial adds
  int stepDelayMs = 1;
};

// One call of RasDialA, as it reached the library.
struct DialRecord {
  std::string entry;
  std::string password;
  uint32_t notifierType = 0;
  HWND window = 0;
  HRASCONN handle = 0;
};

// Registers "rasapi32.dll" with an empty phonebook, no connections, every export visible and
// a dial plan that connects.
void Register();
// Removes the module and stops every dial under way.
void Unregister();

void AddEntry(const Entry& entry);
void RemoveEntry(const std::string& name);
// The phonebook entry of that name (case-insensitive); an empty name when there is none.
Entry FindEntry(const std::string& name);
HRASCONN AddConnection(Connection connection);
std::vector<Connection> Connections();

void SetDialPlan(DialPlan plan);
std::vector<DialRecord> Dials();
// Every handle passed to RasHangUpA, in order.
std::vector<HRASCONN> HungUp();

}  // namespace RasStandIn
