// Messages posted and handled per second between message threads, against a plain
// mutex + condition-variable queue between std::threads doing the same work. Two shapes:
// one hop (the benchmark thread posts, one thread handles) and two hops (the first thread
// handles and forwards to a second, which counts). After the runs it prints the
// message-thread rate as a share of the plain-queue rate for each shape.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "msgthread/MessageThread.h"
#include "msgthread/OwnerThread.h"
#include "platform/ThreadMessages.h"

namespace {

// Messages per benchmark iteration: one full queue. No post can then find a queue full,
// so the figures hold the queues' own cost and no back-off policy of this benchmark's.
constexpr int64_t kMessages = static_cast<int64_t>(platform::kMessageQueueLimit);

constexpr MessageThreadTexts kTexts{"bench: no start event", "bench: no thread", nullptr};

const uint32_t kWorkMessage = platform::RegisterMessageName("VelnorBench.Work");
const uint32_t kForwardMessage = platform::RegisterMessageName("VelnorBench.Forward");

// The end of a run: the last thread counts what it handled, the benchmark thread waits for
// the count it armed. Counting costs a plain increment; only the last message locks.
class Completion {
 public:
  void Arm(uint64_t target) {
    std::lock_guard lock(mutex_);
    target_ = target;
    done_ = false;
  }

  // Called by the counting thread only.
  void Count() {
    if (++counted_ != target_) return;
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
  }

  void Wait() {
    std::unique_lock lock(mutex_);
    done_cv_.wait(lock, [this] { return done_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;    // guarded by mutex_
  uint64_t target_ = 0;  // written before the run's posts, which publish it to the counter
  uint64_t counted_ = 0;  // counting thread only
};

// Retries a post that failed on a full queue (not expected with one queue's worth per
// iteration); the receiver exists for the whole run. The sender sleeps rather than spins,
// so as not to take the CPU its receivers need.
template <typename Post>
void PostUntilTaken(Post post) {
  while (!post()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// ---- message threads ----

class SinkThread : public OwnerThread, public MessageThread::Handler {
 public:
  explicit SinkThread(Completion& completion) : completion_(completion), thread_(*this, kTexts) {}
  uint32_t Id() const { return thread_.Id(); }

  void OnMessage(const platform::ThreadMessage& message) override {
    benchmark::DoNotOptimize(message.lParam);
    completion_.Count();
  }

 private:
  Completion& completion_;
  MessageThread thread_;  // last: stopped before the members above go
};

class RelayThread : public OwnerThread, public MessageThread::Handler {
 public:
  explicit RelayThread(uint32_t nextThreadId) : thread_(*this, kTexts) {
    SaveThreadID(nextThreadId);
  }
  uint32_t Id() const { return thread_.Id(); }

  void OnMessage(const platform::ThreadMessage& message) override {
    PostUntilTaken([&] {
      return PostMessageMainThread(kForwardMessage, message.wParam, message.lParam);
    });
  }

 private:
  MessageThread thread_;
};

// ---- plain queue baseline ----

constexpr uint32_t kPlainQuit = 0;

class PlainQueue {
 public:
  void Post(const platform::ThreadMessage& message) {
    {
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
    }
    ready_.notify_one();
  }

  platform::ThreadMessage Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !messages_.empty(); });
    platform::ThreadMessage message = messages_.front();
    messages_.pop_front();
    return message;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<platform::ThreadMessage> messages_;  // guarded by mutex_
};

// A std::thread draining its own PlainQueue into a handler until the quit message.
template <typename Handle>
class PlainThread {
 public:
  explicit PlainThread(Handle handle)
      : handle_(std::move(handle)), thread_([this] {
          for (;;) {
            const platform::ThreadMessage message = queue_.Take();
            if (message.message == kPlainQuit) return;
            handle_(message);
          }
        }) {}
  ~PlainThread() {
    queue_.Post(platform::ThreadMessage{kPlainQuit, 0, 0});
    thread_.join();
  }
  PlainThread(const PlainThread&) = delete;
  PlainThread& operator=(const PlainThread&) = delete;

  PlainQueue& Queue() { return queue_; }

 private:
  Handle handle_;
  PlainQueue queue_;
  std::thread thread_;  // last: started once the queue exists
};

// ---- benchmark cases ----

// Runs kMessages posts per iteration through `post` and waits until the far end counted them.
template <typename Post>
void RunPosts(benchmark::State& state, Completion& completion, Post post) {
  uint64_t target = 0;
  for (auto _ : state) {
    target += kMessages;
    completion.Arm(target);
    for (int64_t i = 0; i < kMessages; ++i) post(static_cast<uint32_t>(i));
    completion.Wait();
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
}

void BM_MessageThread_OneHop(benchmark::State& state) {
  Completion completion;
  SinkThread sink(completion);  // construction settles before the timed loop
  const uint32_t sinkId = sink.Id();
  RunPosts(state, completion, [sinkId](uint32_t i) {
    PostUntilTaken([&] { return platform::PostToThread(sinkId, kWorkMessage, i, i); });
  });
}

void BM_MessageThread_TwoHop(benchmark::State& state) {
  Completion completion;
  SinkThread sink(completion);
  RelayThread relay(sink.Id());  // declared after the sink, so it stops first
  const uint32_t relayId = relay.Id();
  RunPosts(state, completion, [relayId](uint32_t i) {
    PostUntilTaken([&] { return platform::PostToThread(relayId, kWorkMessage, i, i); });
  });
}

void BM_PlainQueue_OneHop(benchmark::State& state) {
  Completion completion;
  auto count = [&completion](const platform::ThreadMessage& message) {
    benchmark::DoNotOptimize(message.lParam);
    completion.Count();
  };
  PlainThread<decltype(count)> sink(count);
  RunPosts(state, completion, [&sink](uint32_t i) {
    sink.Queue().Post(platform::ThreadMessage{kWorkMessage, i, i});
  });
}

void BM_PlainQueue_TwoHop(benchmark::State& state) {
  Completion completion;
  auto count = [&completion](const platform::ThreadMessage& message) {
    benchmark::DoNotOptimize(message.lParam);
    completion.Count();
  };
  PlainThread<decltype(count)> sink(count);
  auto forward = [&sink](const platform::ThreadMessage& message) {
    sink.Queue().Post(platform::ThreadMessage{kForwardMessage, message.wParam, message.lParam});
  };
  PlainThread<decltype(forward)> relay(forward);
  RunPosts(state, completion, [&relay](uint32_t i) {
    relay.Queue().Post(platform::ThreadMessage{kWorkMessage, i, i});
  });
}

// Enough repetitions for a median that holds on a machine that is busy with other work.
constexpr int kRepetitions = 9;

// Real time: the work happens on the other threads, the benchmark thread mostly waits.
BENCHMARK(BM_MessageThread_OneHop)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_PlainQueue_OneHop)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_MessageThread_TwoHop)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_PlainQueue_TwoHop)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);

// ---- ratio report ----

// The console output as usual, plus items per second gathered per case: the median
// aggregate when repetitions produced one, else the median of the single runs.
class RateCollector : public benchmark::ConsoleReporter {
 public:
  RateCollector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      if (run.error_occurred) continue;
      auto counter = run.counters.find("items_per_second");
      if (counter == run.counters.end()) continue;
      Rates& rates = rates_[run.run_name.function_name];
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") rates.median = counter->second.value;
      } else {
        rates.single.push_back(counter->second.value);
      }
    }
  }

  // 0 when the case did not run.
  double Rate(const std::string& name) const {
    auto it = rates_.find(name);
    if (it == rates_.end()) return 0;
    if (it->second.median > 0) return it->second.median;
    std::vector<double> single = it->second.single;
    if (single.empty()) return 0;
    std::sort(single.begin(), single.end());
    return single[single.size() / 2];
  }

 private:
  struct Rates {
    double median = 0;
    std::vector<double> single;
  };
  std::map<std::string, Rates> rates_;
};

void PrintRatio(const RateCollector& collector, const char* shape) {
  const double messageThread = collector.Rate(std::string("BM_MessageThread_") + shape);
  const double plain = collector.Rate(std::string("BM_PlainQueue_") + shape);
  if (messageThread <= 0 || plain <= 0) return;  // filtered out
  std::printf("%s: message-thread throughput: %.0f msgs/s, plain queue: %.0f msgs/s, ratio: %.1f%%\n",
              shape, messageThread, plain, 100.0 * messageThread / plain);
}

}  // namespace

int main(int argc, char** argv) {
  // Repetitions of the cases interleave unless told otherwise, so that load from elsewhere
  // on the machine spreads over both sides of a ratio instead of landing on one.
  std::vector<char*> args(argv, argv + argc);
  bool interleavingGiven = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with("--benchmark_enable_random_interleaving")) {
      interleavingGiven = true;
    }
  }
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  if (!interleavingGiven) args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  RateCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::printf("\n");
  PrintRatio(collector, "OneHop");
  PrintRatio(collector, "TwoHop");
  std::fflush(stdout);
  benchmark::Shutdown();
  return 0;
}
