#include "run/pipeline.h"

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tessarin::run {
namespace {

using Clock = std::chrono::steady_clock;

struct Shared {
  std::mutex m;
  std::condition_variable work_ready;    // workers
  std::condition_variable space_ready;   // reader
  std::condition_variable result_ready;  // writer
  std::deque<Outcome> queue;
  std::map<std::size_t, Outcome> finished;
  std::size_t next_read = 0;
  std::size_t next_write = 0;
  bool input_done = false;
  bool reader_finished = false;
  bool stop = false;
  std::exception_ptr reader_error;
};

// Threads started while this lives do not receive asynchronous signals, so
// that Ctrl-C reaches the thread that handles it (the caller's).
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &saved_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace

unsigned effective_jobs(unsigned requested) {
  if (requested > 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

BatchSummary run_batch(const BatchCallbacks& cb, unsigned jobs, std::atomic<bool>& cancel, std::size_t window) {
  jobs = effective_jobs(jobs);
  // Wide enough that a molecule taking minutes does not soon leave the other
  // workers idle behind it; a waiting record is a few kilobytes.
  if (window == 0) window = 1024 * static_cast<std::size_t>(jobs);
  // The reader may be blocked reading standard input when the run is
  // cancelled; it is then left behind, so everything it touches is shared.
  auto shared = std::make_shared<Shared>();
  auto read = std::make_shared<std::function<bool(MoleculeInput&)>>(cb.read);

  auto reader_body = [shared, read, window] {
    Shared& s = *shared;
    for (;;) {
      MoleculeInput input;
      bool got = false;
      try {
        got = (*read)(input);
      } catch (...) {
        std::lock_guard lock(s.m);
        s.reader_error = std::current_exception();
        got = false;
      }
      std::unique_lock lock(s.m);
      if (!got || s.stop) {
        s.input_done = true;
        s.reader_finished = true;
        s.work_ready.notify_all();
        s.result_ready.notify_all();
        return;
      }
      s.space_ready.wait(lock, [&] { return s.stop || s.next_read - s.next_write < window; });
      if (s.stop) {
        s.input_done = true;
        s.reader_finished = true;
        s.result_ready.notify_all();
        return;
      }
      Outcome o;
      o.index = s.next_read++;
      o.input = std::move(input);
      s.queue.push_back(std::move(o));
      s.work_ready.notify_one();
    }
  };

  auto worker_body = [shared, &cb, &cancel](unsigned worker) {
    Shared& s = *shared;
    for (;;) {
      Outcome o;
      {
        std::unique_lock lock(s.m);
        s.work_ready.wait(lock, [&] { return s.stop || !s.queue.empty() || s.input_done; });
        if (s.stop || s.queue.empty()) return;
        o = std::move(s.queue.front());
        s.queue.pop_front();
      }
      if (cancel.load()) {
        o.cancelled = true;
      } else {
        try {
          if (cb.process_by) {
            cb.process_by(o, worker);
          } else {
            cb.process(o);
          }
        } catch (const Cancelled&) {
          o.text.clear();
          o.spectrum.reset();
          o.cancelled = true;
        } catch (const std::exception& e) {
          o.text.clear();
          o.spectrum.reset();
          o.error = *e.what() != '\0' ? e.what() : "unknown failure";
        } catch (...) {
          o.text.clear();
          o.spectrum.reset();
          o.error = "unknown failure";
        }
      }
      std::lock_guard lock(s.m);
      s.finished.emplace(o.index, std::move(o));
      s.result_ready.notify_all();
    }
  };

  std::thread reader;
  std::vector<std::thread> workers;
  {
    SignalsBlocked blocked;
    reader = std::thread(reader_body);
    workers.reserve(jobs);
    for (unsigned i = 0; i < jobs; ++i) workers.emplace_back(worker_body, i);
  }

  BatchSummary summary;
  const Clock::time_point start = Clock::now();
  Clock::time_point last_tick = start;
  auto report = [&](bool input_done, std::size_t read_count) {
    if (!cb.progress) return;
    BatchProgress p;
    p.written = summary.written;
    p.failed = summary.failed;
    p.read = read_count;
    p.input_done = input_done;
    p.elapsed_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    cb.progress(p);
  };
  auto write_one = [&](Outcome& o) {
    if (o.cancelled) return false;
    if (!o.error.empty()) ++summary.failed;
    if (!o.error.empty() && o.worker_killed) summary.killed_lines.push_back(o.input.line);
    ++summary.written;
    cb.write(o);
    return true;
  };
  auto stop_threads = [&] {
    {
      std::lock_guard lock(shared->m);
      shared->stop = true;
    }
    shared->work_ready.notify_all();
    shared->space_ready.notify_all();
    for (std::thread& t : workers) t.join();
    workers.clear();
    std::unique_lock lock(shared->m);
    // Left behind only when it is stuck reading; it owns what it touches.
    if (shared->reader_finished) {
      lock.unlock();
      reader.join();
    } else {
      reader.detach();
    }
  };

  try {
    std::unique_lock lock(shared->m);
    for (;;) {
      shared->result_ready.wait_for(lock, std::chrono::milliseconds(100), [&] {
        return cancel.load() || shared->finished.count(shared->next_write) > 0 ||
               (shared->input_done && shared->next_write == shared->next_read);
      });
      if (cancel.load()) break;
      while (true) {
        auto it = shared->finished.find(shared->next_write);
        if (it == shared->finished.end()) break;
        Outcome o = std::move(it->second);
        shared->finished.erase(it);
        ++shared->next_write;
        shared->space_ready.notify_one();
        lock.unlock();
        write_one(o);
        lock.lock();
      }
      const bool all_done = shared->input_done && shared->next_write == shared->next_read;
      if (all_done) break;
      if (Clock::now() - last_tick >= std::chrono::milliseconds(100)) {
        last_tick = Clock::now();
        const bool input_done = shared->input_done;
        const std::size_t read_count = shared->next_read;
        lock.unlock();
        report(input_done, read_count);
        lock.lock();
      }
    }
  } catch (...) {
    stop_threads();
    throw;
  }

  summary.cancelled = cancel.load();
  stop_threads();
  // After a cancellation: what the workers finished, up to the first gap.
  for (;;) {
    auto it = shared->finished.find(shared->next_write);
    if (it == shared->finished.end()) break;
    Outcome o = std::move(it->second);
    shared->finished.erase(it);
    ++shared->next_write;
    if (!write_one(o)) break;
  }
  report(shared->input_done, shared->next_read);
  if (shared->reader_error && !summary.cancelled) std::rethrow_exception(shared->reader_error);
  return summary;
}

}  // namespace tessarin::run
