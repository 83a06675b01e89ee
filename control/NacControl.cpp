#include "control/NacControl.h"

#include <memory>
#include <system_error>

#include "acl/KeepAliveReset.h"
#include "acl/NacCommandProcess.h"
#include "command/CommandTable.h"
#include "command/RegistryGeneration.h"
#include "command/NacCmdServer.h"
#include "command/AutoSave.h"
#include "command/NacPersistence.h"
#include "command/ServiceData.h"
#include "control/InstanceFiles.h"
#include "insight/AclCommand.h"
#include "insight/InsightSources.h"
#include "keepalive/KeepAliveData.h"
#include "keepalive/NacKeepAlive.h"
#include "list/NacNode.h"
#include "msgthread/RegisteredMessages.h"
#include "platform/FreeMemory.h"
#include "registry/GwData.h"
#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "registry/SaveLeftovers.h"
#include "support/AddressParse.h"
#include "support/AdminReport.h"
#include "support/Settings.h"
#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

constexpr MessageThreadTexts kTexts{
    "I failed in making of an event handler for start confirmation to use in CNacControl.",
    "I failed in making of a message thread to use in CNacControl.",
    "CNacControl::~CNacControl: An error occurred in PostThreadMessage."};

constexpr uint32_t kKeepAliveWaitMs = 100;
// Changes walked after which the heap's free pages are handed back once the walks are idle.
constexpr std::size_t kTrimAfterChanges = 1024;

// Makes a child in place of any old one, makes this thread its owner and starts it. A
// text thrown on the way is logged, anything else thrown as failureText; the controller
// then runs without what could not be made.
template <class Child, class Start>
void MakeChild(std::unique_ptr<Child>& child, const char* failureText, const char* successText, Start start) {
  child.reset();
  try {
    child = std::make_unique<Child>();
    child->SaveThreadID(platform::CurrentThreadId());
    start(*child);
  } catch (const ThrownText& thrown) {
    SyslogSend(2, "%s", thrown.Text());
    return;
  } catch (...) {
    SyslogSend(2, "%s", failureText);
    return;
  }
  SyslogSend(7, "%s", successText);
}

// Ends a child's message thread, waits for it without time-out and destroys the child.
template <class Child>
void StopChild(std::unique_ptr<Child>& child) {
  if (!child) return;
  if (!child->PostQuit()) SyslogSend(3, "CNacControl::OnClose: An error occurred in PostThreadMessage.");
  child->WaitForEnd();
  child.reset();
}

}  // namespace

// The thread is the last member: its destructor stops it before the lists and workers go.
CNacControl::CNacControl() : CNacControl(ownEndFlag_) {}

CNacControl::CNacControl(std::atomic<int>& endFlag) : endFlag_(endFlag), thread_(*this, kTexts) {}

CNacControl::~CNacControl() = default;

void CNacControl::OnCreate() {
  GetAutoSave().Enable(settings::AutoSaveOn());
  LoadRegistries();
  ClearAddedFlags();
  RegistriesChanged();
  // A stop demanded during the loads starts nothing more; the quit message follows.
  // Not one of the console's own commands: sessions find it once the console opens.
  AddExtensionCommand("acl", AclCommand);
  if (!EndFlag()) StartCommandServer();
  if (!EndFlag()) StartHttpClient();
  if (!EndFlag()) StartMetrics();
  if (!EndFlag()) StartKeepAliveWorker(start_, "KeepAliveStartProc", &CNacControl::KeepAliveStartProc);
  if (!EndFlag()) StartKeepAliveWorker(stop_, "KeepAliveStopProc", &CNacControl::KeepAliveStopProc);
  if (!EndFlag()) StartKeepAliveScheduler();
  SyslogSend(7, "Start processing was finished.");
}

void CNacControl::LoadRegistries() {
  if (const int removed = RemoveSaveLeftovers(".", kInstanceFiles); removed > 0) {
    SyslogSend(4, "I removed %d temporary files that interrupted saves had left.", removed);
  }
  CGwDataList& gateways = GetGwDataList();
  if (gateways.Load(CGwDataList::kFileName, &endFlag_) == 0) SyslogSend(7, "I succeeded in reading of GW data.");
  if (LoadGwroutes(gateways, kGwrouteFileName, &endFlag_) == GwrouteLoadResult::kLoaded) {
    SyslogSend(7, "I succeeded in reading of GWROUTE data.");
  }
  if (GetPcDataList().Load(CPcDataList::kFileName, &endFlag_) == 0) SyslogSend(7, "I succeeded in reading of PC data.");
  if (GetQuarantineDataList().Load(CQuarantineDataList::kFileName, &endFlag_) == 0) {
    SyslogSend(7, "I succeeded in reading of QUARANTINE data.");
  }
  // Only when the entries are kept: without either setting the service starts without any.
  const bool nacKept = settings::NacPersistOn() || GetAutoSave().On();
  if (nacKept && GetNacDataList().Load(CNacDataList::kFileName, &endFlag_) == 0) {
    SyslogSend(7, "I succeeded in reading of NAC data.");
  }
  // The registry loads end early by themselves; a stop leaves the port unread as well.
  if (!EndFlag() && LoadServiceData()) SyslogSend(7, "I succeeded in reading of SERVICE data.");
}

void CNacControl::ClearAddedFlags() {
  CGwDataList& gateways = GetGwDataList();
  // What the files hold is not new: a gateway gets it through the reset when it comes ON.
  gateways.SetAllAdded(0);
  {
    CNacList::Guard guard(gateways);
    for (CNacNode* node = gateways.GetHead(guard); node != nullptr; node = gateways.GetNext(node, guard)) {
      node->RecordAs<CGwData>()->Routes().SetAllAdded(0);
    }
  }
  GetQuarantineDataList().SetAllAdded(0);
  GetPcDataList().SetAllAdded(0);
  GetNacDataList().SetAllAdded(0);
}

void CNacControl::StartCommandServer() {
  MakeChild(commandServer_, "I failed in start of CNacCmdServer.", "I succeeded in making of a COMMAND thread.",
            [this](CNacCmdServer& server) {
              const CServiceData service = GetServiceData();
              if (server.StartServer(service.port)) return;
              if (service.port == 0) {
                settings::ReportBadCommandPort(service.portText);
                exitStatus_ = kExitBadSetting;
              } else {
                exitStatus_ = 1;
              }
              // Without its console the service has no use.
              StopRightAfterStart();
            });
}

void CNacControl::StopRightAfterStart() {
  if (!platform::PostToThread(platform::CurrentThreadId(), platform::kQuitMessage, 0, 0)) {
    SyslogSend(3, "CNacControl::OnCreate: An error occurred in PostThreadMessage.");
  }
}

void CNacControl::StartHttpClient() {
  // A sender count that is no count is a setting to mend, as a bad port is: the service
  // stops right after start-up rather than guess how wide delivery may be.
  if (const std::string senders = settings::ReadSenderCountText(); settings::SenderCount(senders) == 0) {
    settings::ReportBadSenderCount(senders);
    exitStatus_ = kExitBadSetting;
    StopRightAfterStart();
  }
  MakeChild(httpClient_, "I failed in start of CNacHttpClient.", "I succeeded in making of a HTTP CLIENT thread.",
            [](CNacHttpClient&) {});
  SetInsightHttpClient(httpClient_.get());
}

void CNacControl::StartMetrics() {
  const std::optional<std::uint16_t> port = settings::MetricsPort();
  if (!port) return;
  metrics_ = std::make_unique<MetricsServer>();
  if (!metrics_->Start(*port)) metrics_.reset();
}

void CNacControl::StartKeepAliveScheduler() {
  MakeChild(keepAlive_, "I failed in start of CNacKeepAlive.", "I succeeded in making of a KEEP ALIVE thread.",
            [](CNacKeepAlive& keepAlive) { keepAlive.StartTimer(); });
}

void CNacControl::OnMessage(const platform::ThreadMessage& message) {
  if (message.message == msg::cmd::WM_PROTOCOL_RECV) {
    NacCommandProcess(static_cast<CommandId>(message.wParam), static_cast<std::int32_t>(message.lParam));
  } else if (message.message == msg::keepalive::WM_KEEPALIVE_START) {
    QueueKeepAliveRequest(start_, message.wParam, "KeepAlive start event addition of GW(%s).");
  } else if (message.message == msg::keepalive::WM_KEEPALIVE_STOP) {
    QueueKeepAliveRequest(stop_, message.wParam, "KeepAlive stop event addition of GW(%s).");
  }
  // Every other message of the children is consumed without effect.
}

void CNacControl::QueueKeepAliveRequest(KeepAliveWorker& worker, std::uint32_t address, const char* logFormat) {
  try {
    auto request = std::make_unique<CKeepAliveData>(address);
    worker.requests.AddTail(request.get(), false);
    request.release();
  } catch (const ThrownText& thrown) {
    SyslogSend(2, "%s", thrown.Text());
    return;
  } catch (...) {
    SyslogSend(2, "I failed in making of CKeepAliveData.");
    return;
  }
  SyslogSend(7, logFormat, FormatIPv4(address).c_str());
  if (worker.requestEvent) worker.requestEvent->Signal();
}

AclContext CNacControl::Context() const { return AclContext{endFlag_, httpClient_.get()}; }

void CNacControl::NacCommandProcess(CommandId commandId, std::int32_t result) {
  // One message stands for every change flagged by now: each registry that changed is
  // walked, in the order of its first change. A message that no session flagged for walks
  // the registry it names.
  PendingWalks::Batch batch;
  if (commandServer_) batch = commandServer_->Walks().Take();
  if (batch.flagged.empty()) batch.flagged.push_back({commandId, true, true});
  for (const PendingWalks::Flagged& changed : batch.flagged) {
    ::NacCommandProcess(Context(), changed.id, result);
    // A record added and withdrawn within one batch got its add pass only; its delete pass
    // would wait for the next change of its registry, which may never come.
    if (changed.adds && changed.withdraws) ::NacCommandProcess(Context(), changed.id, result);
  }
  if (!commandServer_) return;
  commandServer_->Walks().Walked(batch.changes);
  // A burst's records are erased by now; once nothing more waits, their memory goes back.
  walkedSinceTrim_ += batch.changes;
  if (walkedSinceTrim_ >= kTrimAfterChanges && commandServer_->Walks().Waiting() == 0) {
    walkedSinceTrim_ = 0;
    platform::ReturnFreeMemory();
  }
}

void CNacControl::OnClose() {
  SyslogSend(7, "CNacControl::MsgProc: I received a service stop demand.");

  SyslogSend(7, "I generated an end event of an KeepAlive.");
  StopChild(keepAlive_);
  SyslogSend(7, "An KeepAlive was finished normally.");

  StopKeepAliveWorker(start_, "KeepAliveStart");
  StopKeepAliveWorker(stop_, "KeepAliveStop");

  SyslogSend(7, "I generated an end event of an HTTP client.");
  SetInsightHttpClient(nullptr);
  StopChild(httpClient_);
  SyslogSend(7, "An HTTP client was finished normally.");

  SyslogSend(7, "I generated an end event of an command server.");
  StopChild(commandServer_);
  SyslogSend(7, "An command server was finished normally.");
  metrics_.reset();
}

void CNacControl::StartKeepAliveWorker(KeepAliveWorker& worker, const char* name,
                                       void (CNacControl::*body)()) {
  worker.requestEvent = platform::Event::Create(platform::EventReset::kAuto, false);
  worker.endEvent = platform::Event::Create(platform::EventReset::kAuto, false);
  if (!worker.requestEvent || !worker.endEvent) {
    SyslogSend(2, "I failed in making of an event handler for start confirmation to use in %s.", name);
  }
  try {
    worker.thread = platform::Thread([this, body] { (this->*body)(); });
  } catch (const std::system_error&) {
    SyslogSend(2, "I failed in start of %s.", name);
    return;
  }
  if (!platform::SetThreadPriority(worker.thread.Id(), -1)) {
    SyslogSend(4, "%s: I failed in setting of thread priority.", name);
  }
}

void CNacControl::StopKeepAliveWorker(KeepAliveWorker& worker, const char* name) {
  SyslogSend(7, "I generated an end event of an %s.", name);
  if (worker.thread.Joinable()) {
    if (worker.endEvent) worker.endEvent->Signal();
    worker.thread.Join();
  }
  SyslogSend(7, "An %s was finished normally.", name);
}

void CNacControl::KeepAliveStartProc() { KeepAliveLoop(start_, &CNacControl::KeepAliveStartProcess); }

void CNacControl::KeepAliveStopProc() { KeepAliveLoop(stop_, &CNacControl::KeepAliveStopProcess); }

void CNacControl::KeepAliveLoop(KeepAliveWorker& worker, void (CNacControl::*process)()) {
  // Without its events the thread cannot be told to end: it ends at once instead.
  if (!worker.requestEvent || !worker.endEvent) return;
  while (!EndFlag()) {
    const int signalled = platform::WaitForAny({&*worker.requestEvent, &*worker.endEvent}, kKeepAliveWaitMs);
    if (signalled == platform::kWaitTimeout || signalled == 0) {
      (this->*process)();
    } else {
      return;
    }
  }
}

void CNacControl::KeepAliveStartProcess() { ::KeepAliveStartProcess(Context(), start_.requests, stop_.requests); }

void CNacControl::KeepAliveStopProcess() { ::KeepAliveStopProcess(Context(), stop_.requests, start_.requests); }
