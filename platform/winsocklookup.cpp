#include "platform/winsocklookup.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/winsockerrors.h"

namespace {

struct Result {
  int error = 0;
  int needed = 0;  // with WSAENOBUFS: the buffer length the record needs
};

// A record is built in work but its pointers point into base, where it is copied afterwards.
class RecordWriter {
 public:
  RecordWriter(char* work, char* base) : work_(work), base_(base) {}
  template <typename T>
  T* At(size_t offset) const {
    return reinterpret_cast<T*>(work_ + offset);
  }
  template <typename T>
  T* Final(size_t offset) const {
    return reinterpret_cast<T*>(base_ + offset);
  }
  char* Text(size_t offset, const std::string& text) const {
    std::memcpy(work_ + offset, text.c_str(), text.size() + 1);
    return Final<char>(offset);
  }

 private:
  char* work_;
  char* base_;
};

struct HostAnswer {
  std::string name;
  std::vector<std::array<char, 4>> addresses;
};

// RFC 6761 6.4: names under "invalid" never exist, and resolvers answer so at once instead of
// asking a name server.
bool IsSpecialInvalidName(std::string name) {
  while (!name.empty() && name.back() == '.') name.pop_back();
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "invalid" || (name.size() > 8 && name.compare(name.size() - 8, 8, ".invalid") == 0);
}

int ResolveHost(const std::string& name, HostAnswer& answer) {
  if (IsSpecialInvalidName(name)) return WSAHOST_NOT_FOUND;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) return WsaErrorFromLookup(rc);
  answer.name = list->ai_canonname != nullptr ? list->ai_canonname : name;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    std::array<char, 4> bytes;
    std::memcpy(bytes.data(), &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, 4);
    answer.addresses.push_back(bytes);
  }
  freeaddrinfo(list);
  return 0;
}

// HOSTENT, alias list, address list, addresses, name. Addresses that do not fit are left out;
// the first one always comes.
Result WriteHostEntry(const HostAnswer& answer, char* work, char* base, int length) {
  const size_t fixed = sizeof(HOSTENT) + 2 * sizeof(char*) + answer.name.size() + 1;
  const size_t perAddress = sizeof(char*) + 4;
  const size_t room = static_cast<size_t>(length) > fixed ? static_cast<size_t>(length) - fixed : 0;
  const size_t count = std::min(answer.addresses.size(), room / perAddress);
  if (count == 0) return {WSAENOBUFS, static_cast<int>(fixed + perAddress)};
  RecordWriter w(work, base);
  auto* entry = w.At<HOSTENT>(0);
  size_t offset = sizeof(HOSTENT);
  entry->h_aliases = w.Final<char*>(offset);
  *w.At<char*>(offset) = nullptr;
  offset += sizeof(char*);
  entry->h_addr_list = w.Final<char*>(offset);
  size_t bytes = offset + (count + 1) * sizeof(char*);
  for (size_t i = 0; i < count; ++i, bytes += 4) {
    std::memcpy(work + bytes, answer.addresses[i].data(), 4);
    w.At<char*>(offset)[i] = w.Final<char>(bytes);
  }
  w.At<char*>(offset)[count] = nullptr;
  entry->h_addrtype = WS_AF_INET;
  entry->h_length = 4;
  entry->h_name = w.Text(bytes, answer.name);
  return {};
}

Result HostEntry(const std::string& name, char* work, char* base, int length) {
  HostAnswer answer;
  if (const int error = ResolveHost(name, answer)) return {error, 0};
  return WriteHostEntry(answer, work, base, length);
}

// SERVENT, alias list, name, protocol.
Result ServiceEntry(const std::string& name, const std::string& protocol, char* work, char* base, int length) {
  servent se{};
  servent* found = nullptr;
  std::array<char, 1024> scratch;
  getservbyname_r(name.c_str(), protocol.c_str(), &se, scratch.data(), scratch.size(), &found);
  if (found == nullptr) return {WSANO_DATA, 0};
  const std::string foundName = found->s_name;
  const std::string foundProtocol = found->s_proto;
  const size_t needed = sizeof(SERVENT) + sizeof(char*) + foundName.size() + foundProtocol.size() + 2;
  if (needed > static_cast<size_t>(length)) return {WSAENOBUFS, static_cast<int>(needed)};
  RecordWriter w(work, base);
  auto* entry = w.At<SERVENT>(0);
  entry->s_aliases = w.Final<char*>(sizeof(SERVENT));
  *w.At<char*>(sizeof(SERVENT)) = nullptr;
  const size_t nameAt = sizeof(SERVENT) + sizeof(char*);
  entry->s_name = w.Text(nameAt, foundName);
  entry->s_proto = w.Text(nameAt + foundName.size() + 1, foundProtocol);
  entry->s_port = static_cast<int16_t>(found->s_port);  // already in network byte order
  return {};
}

using Lookup = std::function<Result(char* work, char* base, int length)>;

struct Task {
  std::mutex mutex;
  bool canceled = false;
  bool done = false;
};

struct Tasks {
  std::mutex mutex;
  std::map<HANDLE, std::shared_ptr<Task>> open;
  HANDLE next = 1;
};

// Never destroyed: a worker may still finish while the process exits.
Tasks& tasks() {
  static Tasks* t = new Tasks;
  return *t;
}

void Finish(HANDLE handle) {
  Tasks& t = tasks();
  std::lock_guard lock(t.mutex);
  t.open.erase(handle);
}

void RunTask(HANDLE handle, std::shared_ptr<Task> task, HWND window, UINT message, char* buffer, int length,
             const Lookup& lookup) {
  std::vector<char> work(static_cast<size_t>(length));
  const Result r = lookup(work.data(), buffer, length);
  {
    // Under the task's lock, so that a cancel either comes first and nothing is written or
    // posted, or finds the task done.
    std::lock_guard lock(task->mutex);
    if (!task->canceled) {
      if (r.error == 0) std::memcpy(buffer, work.data(), work.size());
      PostMessage(window, message, handle,
                  WSAMakeAsyncReply(static_cast<uint16_t>(r.needed), static_cast<uint16_t>(r.error)));
      task->done = true;
    }
  }
  Finish(handle);
}

HANDLE Start(HWND window, UINT message, char* buffer, int length, Lookup lookup) {
  if (buffer == nullptr || length <= 0) {
    SetWsaLastError(WSAEFAULT);
    return 0;
  }
  auto task = std::make_shared<Task>();
  HANDLE handle;
  {
    Tasks& t = tasks();
    std::lock_guard lock(t.mutex);
    handle = t.next++;
    t.open[handle] = task;
  }
  try {
    std::thread(RunTask, handle, task, window, message, buffer, length, std::move(lookup)).detach();
  } catch (const std::system_error&) {
    Finish(handle);
    SetWsaLastError(WSAENOBUFS);
    return 0;
  }
  return handle;
}

// RFC 1035 2.3.4: a domain name is at most 255 octets; a longer one cannot be looked up.
constexpr size_t kMaxNameLength = 255;

bool ValidName(const char* name) {
  if (name == nullptr) {
    SetWsaLastError(WSAEFAULT);
    return false;
  }
  if (std::strlen(name) > kMaxNameLength) {
    SetWsaLastError(WSAEINVAL);
    return false;
  }
  return true;
}

}  // namespace

HANDLE StartHostLookup(HWND window, UINT message, const char* name, char* buffer, int length) {
  if (!ValidName(name)) return 0;
  return Start(window, message, buffer, length, [host = std::string(name)](char* work, char* base, int size) {
    return HostEntry(host, work, base, size);
  });
}

HANDLE StartServiceLookup(HWND window, UINT message, const char* name, const char* protocol, char* buffer, int length) {
  if (!ValidName(name)) return 0;
  return Start(window, message, buffer, length,
               [service = std::string(name), proto = std::string(protocol ? protocol : "")](
                   char* work, char* base, int size) { return ServiceEntry(service, proto, work, base, size); });
}

int CancelLookup(HANDLE task) {
  std::shared_ptr<Task> found;
  bool issued = false;
  {
    Tasks& t = tasks();
    std::lock_guard lock(t.mutex);
    auto it = t.open.find(task);
    if (it != t.open.end()) found = it->second;
    issued = task != 0 && task < t.next;  // handles are never reused
  }
  if (!found) {
    SetWsaLastError(issued ? WSAEALREADY : WSAEINVAL);
    return SOCKET_ERROR;
  }
  std::lock_guard lock(found->mutex);
  if (found->done) {
    SetWsaLastError(WSAEALREADY);
    return SOCKET_ERROR;
  }
  found->canceled = true;
  Finish(task);
  return 0;
}

namespace {
alignas(std::max_align_t) thread_local std::array<char, MAXGETHOSTSTRUCT> t_record;

template <typename T>
T* Blocking(const Lookup& lookup) {
  alignas(std::max_align_t) std::array<char, MAXGETHOSTSTRUCT> work;
  const Result r = lookup(work.data(), t_record.data(), static_cast<int>(work.size()));
  if (r.error != 0) {
    SetWsaLastError(r.error);
    return nullptr;
  }
  t_record = work;
  return reinterpret_cast<T*>(t_record.data());
}
}  // namespace

HOSTENT* LookupHost(const char* name) {
  if (!ValidName(name)) return nullptr;
  return Blocking<HOSTENT>([name](char* work, char* base, int size) { return HostEntry(name, work, base, size); });
}

SERVENT* LookupService(const char* name, const char* protocol) {
  if (!ValidName(name)) return nullptr;
  return Blocking<SERVENT>([name, protocol](char* work, char* base, int size) {
    return ServiceEntry(name, protocol ? protocol : "", work, base, size);
  });
}
