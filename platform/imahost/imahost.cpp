#include "imahost.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

namespace imahost {

std::vector<u32> widen(const std::string& ascii) {
  std::vector<u32> w(ascii.begin(), ascii.end());
  w.push_back(0);
  return w;
}

Host::~Host() {
  while (opens_ > 0) cleanup();
  if (handle_ != nullptr) dlclose(handle_);
}

bool Host::load(const char* path, std::string* why) {
  handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    if (why != nullptr) *why = dlerror();
    return false;
  }
  return true;
}

void* Host::symbol(const char* name) const {
  void* p = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
  if (p == nullptr) {
    fprintf(stderr, "imahost: the plugin has no entry point %s\n", name);
    abort();
  }
  return p;
}

u32 Host::init(u32 owner) {
  u32 st = call("IMA_VMW_PluginInit", owner);
  owner_ = owner;
  opens_++;
  return st;
}

void Host::cleanup() {
  if (opens_ <= 0) return;
  reinterpret_cast<void (*)()>(symbol("IMA_VMW_PluginCleanup"))();
  opens_--;
}

Oid Host::oid(u32 type, u32 tag) const { return oid(type, tag, owner_); }

Oid Host::oid(u32 type, u32 tag, u32 owner) const {
  Oid o;
  o.type = type;
  o.owner = owner;
  o.sequence = (u64)(int64_t)(int32_t)tag;
  return o;
}

u32 Host::free_block(void* block) {
  freed_++;
  return call("IMA_FreeMemory", block);
}

}  // namespace imahost
