#include "insight/InsightSources.h"

#include "delivery/NacHttpClient.h"
#include "platform/Mutex.h"

namespace {

struct Dispatcher {
  platform::Mutex mutex;
  CNacHttpClient* httpClient VELNOR_GUARDED_BY(mutex) = nullptr;
};

Dispatcher& GetDispatcher() {
  static Dispatcher dispatcher;
  return dispatcher;
}

}  // namespace

void SetInsightHttpClient(CNacHttpClient* httpClient) {
  Dispatcher& dispatcher = GetDispatcher();
  platform::MutexLock lock(dispatcher.mutex);
  dispatcher.httpClient = httpClient;
}

std::int32_t WaitingRequests(std::optional<std::uint32_t> address) {
  Dispatcher& dispatcher = GetDispatcher();
  // Held while it is asked: the controller cannot take it back meanwhile.
  platform::MutexLock lock(dispatcher.mutex);
  return dispatcher.httpClient != nullptr ? dispatcher.httpClient->Waiting(address) : 0;
}

std::unordered_map<std::uint32_t, std::int32_t> WaitingByGateway() {
  Dispatcher& dispatcher = GetDispatcher();
  platform::MutexLock lock(dispatcher.mutex);
  if (dispatcher.httpClient == nullptr) return {};
  return dispatcher.httpClient->WaitingEach();
}
