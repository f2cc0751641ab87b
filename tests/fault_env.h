// A file system that fails on request: it passes every call to the real
// one and counts them, and makes the N-th call of one kind fail with a
// chosen system text, as a full disk or a broken device would. Safe to use
// from several threads (merge steps run side by side); then which call is
// the N-th depends on their timing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace testing_support {

enum class FaultOp { kOpen, kCreate, kRead, kWrite, kClose, kRename, kRemove, kCount };

inline const char* FaultOpName(FaultOp op) {
  static const char* const kNames[] = {"open",  "create", "read",  "write",
                                       "close", "rename", "remove"};
  return kNames[static_cast<int>(op)];
}

class FaultEnv : public platform::Env {
 public:
  explicit FaultEnv(platform::Env& real = platform::DefaultEnv()) : real_(real) {}

  // Fails the N-th call (1-based) of `op` with `error`. For kRead, N is a
  // byte count instead: the read that would take the bytes read (over all
  // files) past N fails.
  void FailAt(FaultOp op, std::int64_t n, std::string error) {
    failOp_ = op;
    failAt_ = n;
    error_ = std::move(error);
  }
  // Calls made so far (for kRead: bytes read).
  std::int64_t Count(FaultOp op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[static_cast<int>(op)];
  }
  bool Fired() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
  }

  std::unique_ptr<platform::File> OpenRead(const std::string& name, std::string& error) override {
    if (Hit(FaultOp::kOpen)) {
      error = error_;
      return nullptr;
    }
    return Wrap(real_.OpenRead(name, error));
  }
  std::unique_ptr<platform::File> Create(const std::string& name, platform::CreateMode mode,
                                         std::string& error) override {
    if (Hit(FaultOp::kCreate)) {
      error = error_;
      return nullptr;
    }
    return Wrap(real_.Create(name, mode, error));
  }
  platform::Status RemoveFile(const std::string& name) override {
    if (Hit(FaultOp::kRemove))
      return platform::Status::Failure("Cannot delete file \"" + name + "\": " + error_);
    return real_.RemoveFile(name);
  }
  platform::Status RenameNoReplace(const std::string& from, const std::string& to) override {
    if (Hit(FaultOp::kRename)) return RenameFailure(from, to);
    return real_.RenameNoReplace(from, to);
  }
  platform::Status RenameReplacing(const std::string& from, const std::string& to) override {
    if (Hit(FaultOp::kRename)) return RenameFailure(from, to);
    return real_.RenameReplacing(from, to);
  }
  platform::FileInfo Inspect(const std::string& name) override { return real_.Inspect(name); }
  std::string FullPath(const std::string& name) override { return real_.FullPath(name); }
  std::unique_ptr<platform::DirectoryLock> LockDirectory(const std::string& path,
                                                         const std::function<void()>& beforeWaiting,
                                                         std::string& error) override {
    return real_.LockDirectory(path, beforeWaiting, error);
  }

 private:
  class FaultFile : public platform::File {
   public:
    FaultFile(FaultEnv& env, std::unique_ptr<platform::File> real)
        : env_(env), real_(std::move(real)) {}
    std::int64_t Read(void* buffer, std::int64_t size) override {
      {
        std::lock_guard<std::mutex> lock(env_.mutex_);
        const std::int64_t bytes = env_.counts_[static_cast<int>(FaultOp::kRead)];
        if (env_.failOp_ == FaultOp::kRead && !env_.fired_ && bytes + size > env_.failAt_) {
          env_.fired_ = true;
          error_ = env_.error_;
          return -1;
        }
      }
      const std::int64_t got = real_->Read(buffer, size);
      if (got > 0) {
        std::lock_guard<std::mutex> lock(env_.mutex_);
        env_.counts_[static_cast<int>(FaultOp::kRead)] += got;
      }
      return got;
    }
    bool Write(const void* buffer, std::int64_t size) override {
      if (env_.Hit(FaultOp::kWrite)) return Fail();
      return real_->Write(buffer, size);
    }
    bool Seek(std::int64_t position) override { return real_->Seek(position); }
    std::int64_t Position() override { return real_->Position(); }
    std::int64_t Size() override { return real_->Size(); }
    bool Close() override {
      if (!real_->IsOpen()) return real_->Close();
      if (env_.Hit(FaultOp::kClose)) {
        real_->Close();  // closed all the same, as the system does
        return Fail();
      }
      return real_->Close();
    }
    bool IsOpen() const override { return real_->IsOpen(); }
    const std::string& Name() const override { return real_->Name(); }
    const std::string& Error() const override { return error_.empty() ? real_->Error() : error_; }

   private:
    bool Fail() {
      error_ = env_.error_;
      return false;
    }
    FaultEnv& env_;
    std::unique_ptr<platform::File> real_;
    std::string error_;
  };

  bool Hit(FaultOp op) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t n = ++counts_[static_cast<int>(op)];
    if (op != failOp_ || fired_ || n != failAt_) return false;
    fired_ = true;
    return true;
  }
  std::unique_ptr<platform::File> Wrap(std::unique_ptr<platform::File> file) {
    if (!file) return nullptr;
    return std::make_unique<FaultFile>(*this, std::move(file));
  }
  platform::Status RenameFailure(const std::string& from, const std::string& to) const {
    return platform::Status::Failure("Cannot rename file \"" + from + "\" to \"" + to +
                                     "\": " + error_);
  }

  platform::Env& real_;
  mutable std::mutex mutex_;
  std::array<std::int64_t, static_cast<int>(FaultOp::kCount)> counts_{};
  FaultOp failOp_ = FaultOp::kCount;
  std::int64_t failAt_ = 0;
  std::string error_;
  bool fired_ = false;
};

}  // namespace testing_support
