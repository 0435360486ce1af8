// A file system in memory that forgets, at a power cut, everything that was never synced: the
// data of a file until WriteSynced's sync, and each change of a folder's entries until that
// folder is synced (a rename is kept once either of its folders is). It can cut the power at
// its Nth step, after which every operation fails, and fail one chosen operation on purpose.
// Any thread; one lock guards everything.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/DurableFiles.h"

class PowerCutFiles : public platform::DurableFiles {
 public:
  using Result = platform::FileResult;

  // The power goes at step n (from 1); 0 keeps it on.
  void CutAtStep(int n) {
    std::lock_guard<std::mutex> g(lock_);
    cutAt_ = n;
    steps_ = 0;
    dead_ = false;
  }
  int Steps() {
    std::lock_guard<std::mutex> g(lock_);
    return steps_;
  }
  // The machine starts again with what was durable.
  void PowerCut() {
    std::lock_guard<std::mutex> g(lock_);
    names_ = durableNames_;
    for (auto& [id, inode] : inodes_) inode.data = inode.durable;
    pending_.clear();
  }
  // The next operation named op ("write", "sync", "rename", "syncfolder") fails with kind.
  void FailNext(const std::string& op, Result::Kind kind) {
    std::lock_guard<std::mutex> g(lock_);
    failOp_ = op;
    failKind_ = kind;
  }
  void SetFreeBytes(uint64_t bytes) { free_ = bytes; }
  void SetSameFileSystem(bool same) { same_ = same; }
  // The files of a folder as they are now, name -> content.
  std::map<std::string, std::string> Files(const std::string& folder) {
    std::lock_guard<std::mutex> g(lock_);
    std::map<std::string, std::string> files;
    for (const auto& [key, id] : names_) {
      if (key.first == Clean(folder)) files[key.second] = inodes_[id].data;
    }
    return files;
  }
  void Put(const std::string& folder, const std::string& name, const std::string& data) {
    std::lock_guard<std::mutex> g(lock_);
    const int id = ++lastInode_;
    inodes_[id] = Inode{data, data};
    names_[{Clean(folder), name}] = durableNames_[{Clean(folder), name}] = id;
  }
  void RemoveFolder(const std::string& folder) {
    std::lock_guard<std::mutex> g(lock_);
    folders_.erase(Clean(folder));
  }

  Result MakeFolder(const std::string& folder) override { return MakePrivateFolder(folder); }
  Result MakePrivateFolder(const std::string& folder) override {
    std::lock_guard<std::mutex> g(lock_);
    if (!Step("mkdir")) return failed_;
    folders_.insert(Clean(folder));
    return Result::Success();
  }
  Result WriteSynced(const std::string& folder, const std::string& name,
                     const std::string& bytes, Readers readers) override {
    std::vector<NewFile> files{NewFile{name, &bytes, Result()}};
    WriteAllSynced(folder, files, readers);
    return files[0].result;
  }
  // Every file is created and written, then each is synced: a cut in between leaves files
  // whose data is not durable.
  void WriteAllSynced(const std::string& folder, std::vector<NewFile>& files, Readers) override {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<int> made(files.size(), 0);
    for (std::size_t i = 0; i < files.size(); ++i) {
      files[i].result = Result::Success();
      const Key key{Clean(folder), files[i].name};
      if (!Step("create")) {
        files[i].result = failed_;
      } else if (!folders_.count(key.first)) {
        files[i].result = Fail(Result::kNotFound);
      } else if (names_.count(key)) {
        files[i].result = Fail(Result::kExists);
      } else {
        made[i] = ++lastInode_;
        inodes_[made[i]] = Inode{};
        names_[key] = made[i];
        pending_.push_back(Op{Key{}, key, made[i]});
        if (Step("write")) {
          inodes_[made[i]].data = *files[i].bytes;
        } else {
          files[i].result = failed_;
        }
      }
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (!files[i].result.Ok()) continue;
      if (Step("sync")) {
        inodes_[made[i]].durable = *files[i].bytes;
      } else {
        files[i].result = failed_;
      }
    }
  }
  Result Rename(const std::string& fromFolder, const std::string& fromName,
                const std::string& toFolder, const std::string& toName, bool noReplace) override {
    std::lock_guard<std::mutex> g(lock_);
    if (!Step("rename")) return failed_;
    const Key from{Clean(fromFolder), fromName}, to{Clean(toFolder), toName};
    if (!names_.count(from) || !folders_.count(to.first)) return Fail(Result::kNotFound);
    if (noReplace && names_.count(to)) return Fail(Result::kExists);
    const int id = names_[from];
    names_.erase(from);
    names_[to] = id;
    pending_.push_back(Op{from, to, id});
    return Result::Success();
  }
  Result Remove(const std::string& folder, const std::string& name) override {
    std::lock_guard<std::mutex> g(lock_);
    if (!Step("remove")) return failed_;
    const Key key{Clean(folder), name};
    if (names_.erase(key)) pending_.push_back(Op{key, Key{}, 0});
    return Result::Success();
  }
  Result SyncFolder(const std::string& folder) override {
    std::lock_guard<std::mutex> g(lock_);
    if (!Step("syncfolder")) return failed_;
    std::vector<Op> left;
    for (const Op& op : pending_) {
      if (op.from.first != Clean(folder) && op.to.first != Clean(folder)) {
        left.push_back(op);
        continue;
      }
      const auto it = durableNames_.find(op.from);
      if (it != durableNames_.end() && (op.inode == 0 || it->second == op.inode)) {
        durableNames_.erase(it);
      }
      if (op.inode != 0) durableNames_[op.to] = op.inode;
    }
    pending_ = left;
    return Result::Success();
  }
  Result List(const std::string& folder, std::vector<Entry>* entries) override {
    std::lock_guard<std::mutex> g(lock_);
    entries->clear();
    if (!Step("list")) return failed_;
    for (const auto& [key, id] : names_) {
      if (key.first == Clean(folder)) entries->push_back(Entry{key.second, inodes_[id].data.size()});
    }
    return Result::Success();
  }
  Result Read(const std::string& folder, const std::string& name, std::size_t maxBytes,
              std::string* bytes) override {
    std::lock_guard<std::mutex> g(lock_);
    if (!Step("read")) return failed_;
    const auto it = names_.find(Key{Clean(folder), name});
    if (it == names_.end()) return Fail(Result::kNotFound);
    if (inodes_[it->second].data.size() > maxBytes) return Fail(Result::kOther);
    *bytes = inodes_[it->second].data;
    return Result::Success();
  }
  Result FreeBytes(const std::string&, uint64_t* bytes) override {
    *bytes = free_;
    return Result::Success();
  }
  bool SameFileSystem(const std::string&, const std::string&) override { return same_; }

 private:
  using Key = std::pair<std::string, std::string>;
  struct Inode {
    std::string data, durable;
  };
  struct Op {
    Key from, to;  // a create has no from, a remove no to
    int inode = 0;
  };
  static std::string Clean(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  bool Step(const std::string& op) {
    if (dead_ || (cutAt_ > 0 && ++steps_ >= cutAt_)) {
      dead_ = true;
      failed_ = Result{Result::kOther, "the power is gone"};
      return false;
    }
    if (cutAt_ == 0) ++steps_;
    if (!failOp_.empty() && failOp_ == op) {
      failOp_.clear();
      failed_ = Result{failKind_, "injected failure of " + op};
      return false;
    }
    return true;
  }
  Result Fail(Result::Kind kind) { return Result{kind, "refused"}; }

  std::mutex lock_;
  std::map<Key, int> names_, durableNames_;
  std::map<int, Inode> inodes_;
  std::vector<Op> pending_;
  std::set<std::string> folders_;
  int lastInode_ = 0, cutAt_ = 0, steps_ = 0;
  bool dead_ = false;
  std::string failOp_;
  Result::Kind failKind_ = Result::kOther;
  Result failed_;
  uint64_t free_ = 1ull << 40;
  bool same_ = true;
};
