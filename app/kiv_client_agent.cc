#include "app/kiv_client_agent.h"

#include <exception>
#include <system_error>

#include "app/format.h"
#include "app/log.h"
#include "platform/heap.h"
#include "platform/last_error.h"
#include "platform/threads.h"

namespace {

thread_local CKivClientAgent* g_current = nullptr;

}  // namespace

CKivClientAgent::CKivClientAgent(AgentJobRegistry& jobs, MessageLoop* main_window,
                                 platform::Clock& clock, std::function<void()> on_exit,
                                 bool idle_priority)
    : jobs_(jobs),
      main_window_(main_window),
      clock_(clock),
      on_exit_(std::move(on_exit)),
      idle_priority_(idle_priority),
      loop_(clock) {
  loop_.SetHandler([this](Message& message) { OnMessage(message); });
}

CKivClientAgent::~CKivClientAgent() {
  if (!thread_.joinable()) return;
  if (!ended_) PostThreadMessage(WM_AGENT_STOP);
  thread_.join();
}

CKivClientAgent* CKivClientAgent::Current() { return g_current; }

bool CKivClientAgent::CurrentStopRequested() { return g_current && g_current->StopRequested(); }

BOOL CKivClientAgent::Start() {
  if (thread_.joinable()) return TRUE;
  try {
    thread_ = std::thread([this] { ThreadMain(); });
  } catch (const std::system_error& e) {
    platform::SetLastErrorEx(platform::ErrorFromErrno(e.code().value()));
    return FALSE;
  }
  std::unique_lock<std::mutex> lock(start_mutex_);
  started_.wait(lock, [this] { return thread_id_ != 0; });
  return TRUE;
}

void CKivClientAgent::PostThreadMessage(UINT id, WPARAM wParam, LPARAM lParam,
                                        std::string payload) {
  if (id == WM_AGENT_STOP) stop_posted_ = true;
  loop_.PostMessage(id, wParam, lParam, std::move(payload));
}

void CKivClientAgent::PostStop() {
  int expected = 0;
  stop_posted_ = true;
  if (stop_queued_.compare_exchange_strong(expected, 1)) loop_.PostMessage(WM_AGENT_STOP);
}

void CKivClientAgent::Join() {
  if (thread_.joinable()) thread_.join();
}

void CKivClientAgent::ThreadMain() {
  {
    std::lock_guard<std::mutex> lock(start_mutex_);
    thread_id_ = platform::CurrentThreadId();
  }
  started_.notify_all();
  g_current = this;
  if (idle_priority_ && !platform::SetCurrentThreadIdlePriority())
    LogApp(StrFormat("CKivClientAgent: unable to enter the idle scheduling class, error %u",
                     platform::GetLastError()),
           LEVEL_WARNING);
  exit_code_ = loop_.Run();
  g_current = nullptr;
  ended_ = true;
  if (on_exit_) on_exit_();
}

void CKivClientAgent::OnMessage(Message& message) {
  switch (message.id) {
    case WM_AGENT_REQUEST:
      OnAgentLaunch(static_cast<UINT>(message.wParam), message.payload);
      break;
    case WM_AGENT_STOP:
      stop_queued_ = 0;
      if (stop_running_.exchange(1) == 0) loop_.PostMessage(WM_QUIT, 0);
      break;
    case WM_QUIT:
      loop_.Quit(static_cast<int>(message.wParam));
      break;
    default:
      break;
  }
}

void CKivClientAgent::OnAgentLaunch(UINT kind, const std::string& request) {
  if (stop_running_) {
    LogApp(StrFormat("OnAgentLaunch (%u): stop running is set. Cancelling launch.", kind),
           LEVEL_ERROR);
    return;
  }
  // One job per thread: a second launch request would run a job the
  // controller does not know about.
  if (launched_) {
    LogApp(StrFormat("OnAgentLaunch (%u): this thread already ran its job. Ignoring launch.", kind),
           LEVEL_ERROR);
    return;
  }
  launched_ = true;
  // Named after its job, so that the job's processor time can be told apart.
  platform::SetCurrentThreadName(AgentName(kind));

  AgentContext context;
  context.kind = kind;
  context.main_window = main_window_;
  context.clock = &clock_;
  context.request = request;
  int result = 1;
  try {
    std::unique_ptr<CAgent> job;
    if (!jobs_.Create(context, &job)) return;  // no job: stay idle until stopped
    if (job) result = job->Run();
  } catch (const std::exception& e) {
    // A job lets no exception out by contract; one that does must not end
    // the process. Result 0, so the failing job is not relaunched.
    LogApp(StrFormat("OnAgentLaunch (%u): the %s job failed: %s", kind, AgentName(kind), e.what()),
           LEVEL_ERROR);
    result = 0;
  }
  // A full pass frees hundreds of thousands of small blocks; merging them
  // now keeps that cost with this job instead of the next one.
  platform::ReleaseFreeHeapMemory();
  if (main_window_) main_window_->PostMessage(WM_AGENT_DONE, AgentCommandId(kind), result);
}
