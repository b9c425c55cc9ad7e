// The memory limit of the control groups a Linux process belongs to.
//
// A limit may be set on any group between the process's own and the root
// of the hierarchy (a batch job's step, a service started with a memory
// limit, a container), and each one applies: the process can use no more
// than the smallest. /proc/self/cgroup names the process's group in each
// hierarchy, one line each:
//
//   0::/system.slice/job.scope          version 2: one unified hierarchy
//   4:memory:/user.slice/job            version 1: the memory controller's
//
// and the limits are files in the groups' folders under the hierarchy's
// mount: memory.max (a number of bytes, or "max") for version 2, and
// memory/.../memory.limit_in_bytes for version 1. A group whose folder or
// file cannot be read (a container that sees only its own part of the
// tree) sets no limit; its ancestors still count.
//
// No storage is taken: this runs inside the process heap, before it can
// serve anything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lagscan::platform::control_groups {

// The smallest limit, in bytes, on the groups from the one that membership
// (the text of /proc/self/cgroup, n bytes) names up to the root, whose
// hierarchies are mounted under root ("/sys/fs/cgroup"); 0 when none is set.
// The memory controller's version 1 line is used when there is one, else
// the version 2 line. Without either (or with a path too long to follow),
// the root's files are read, version 2's first.
std::uint64_t memory_limit(const char* membership, std::size_t n, const char* root) noexcept;

// The limit of the calling process: memory_limit on /proc/self/cgroup and
// /sys/fs/cgroup.
std::uint64_t own_memory_limit() noexcept;

}  // namespace lagscan::platform::control_groups
