// Random operation sequences on text_buffer and real_array against a plain
// model (std::string, std::vector<double>).
//
// After every operation:
//  - each text holds the model's bytes, terminated, with length = bytes + 1;
//    the raw state has capacity 0 and length 0; an owned block is at least
//    as long as the text and its capacity is a size block_storage rounds to;
//  - each array holds the model's values with capacity >= count and a block
//    exactly when capacity > 0; reserve gives the rounded capacity, and
//    append doubles a full array (from 8) and leaves any other alone;
//  - requests past the limits raise the library's error and change nothing;
//  - the blocks that block_storage handed out and did not get back are
//    exactly the blocks the live containers own (nothing leaked or freed
//    twice).
// Where the contract leaves content to the caller (reserve without keep, or
// shrinking below the length), the harness writes it as a caller must.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "memory/arrays.h"
#include "memory/block_storage.h"
#include "memory/size_limit_error.h"
#include "memory/storage_counters.h"
#include "memory/text_buffer.h"
#include "support/check.h"
#include "support/models.h"

namespace lagscan::fuzz {
namespace {

constexpr int text_slots = 3;
// Texts grow no larger than this: appending a text to itself doubles it, and
// a few dozen doublings would reach the 2^30-byte limit, gigabytes that the
// model, the text and heap_3's caches would each hold. The limit itself is
// checked by refused reserves.
constexpr std::size_t largest_text = std::size_t{1} << 20;
constexpr int array_slots = 2;

struct text_slot {
  std::optional<text_buffer> text;
  bool raw = false;
  std::string model;
};

struct array_slot {
  std::optional<real_array> array;
  std::vector<double> model;
};

std::uint64_t blocks_out() { return block_storage::thread_counters().blocks_out(); }

bool is_rounded_bytes(std::int64_t capacity) {
  return capacity > 0 && block_storage::round_bytes(static_cast<std::uint64_t>(capacity)) ==
                             static_cast<std::uint64_t>(capacity);
}

void check_text(const text_slot& slot, int index) {
  const text_buffer& t = *slot.text;
  const std::string which = "text " + std::to_string(index) + ": ";
  if (slot.raw) {
    FUZZ_CHECK(t.capacity == 0 && t.length == 0, which + "a released text is raw");
    return;
  }
  FUZZ_CHECK(static_cast<std::size_t>(t.length) == slot.model.size() + 1,
             which + "length " + std::to_string(t.length) + ", model " + std::to_string(slot.model.size() + 1));
  FUZZ_CHECK(t.buffer[t.length - 1] == '\0', which + "terminated at length - 1");
  FUZZ_CHECK(std::memcmp(t.buffer, slot.model.data(), slot.model.size()) == 0, which + "bytes differ from the model");
  if (t.capacity == 0) {
    FUZZ_CHECK(t.length == 1, which + "a text without a block is empty");
  } else {
    FUZZ_CHECK(t.length <= t.capacity, which + "the text fits its block");
    FUZZ_CHECK(t.capacity <= text_buffer::max_bytes && is_rounded_bytes(t.capacity),
               which + "capacity " + std::to_string(t.capacity) + " is not a rounded size");
  }
}

void check_array(const array_slot& slot, int index) {
  const real_array& a = *slot.array;
  const std::string which = "array " + std::to_string(index) + ": ";
  FUZZ_CHECK(static_cast<std::size_t>(a.count) == slot.model.size(),
             which + "count " + std::to_string(a.count) + ", model " + std::to_string(slot.model.size()));
  FUZZ_CHECK(a.count <= a.capacity, which + "count within capacity");
  FUZZ_CHECK((a.capacity == 0) == (a.buffer == nullptr), which + "a block exactly when capacity > 0");
  for (std::int32_t i = 0; i < a.count; ++i) {
    FUZZ_CHECK(same_real(a[i], slot.model[static_cast<std::size_t>(i)]), which + "value " + std::to_string(i));
  }
}

// Runs a request that is past a limit: it must raise `message` and leave the
// container as it was.
template <class Request>
void expect_refused(Request request, const char* message) {
  try {
    request();
  } catch (const size_limit_error& error) {
    std::string text = error.message();
    FUZZ_CHECK(text == message, "refused with " + text);
    return;
  }
  FUZZ_CHECK(false, std::string("not refused: ") + message);
}

class session {
 public:
  explicit session(FuzzedDataProvider& input) : in_(input) {
    for (auto& t : texts_) t.text.emplace();
    for (auto& a : arrays_) a.array.emplace();
    base_blocks_ = blocks_out();
  }

  void run() {
    while (in_.remaining_bytes() > 0) {
      step();
      check_all();
    }
  }

 private:
  std::string some_bytes() {
    if (in_.ConsumeIntegralInRange(0, 15) == 0) {
      return std::string(in_.ConsumeIntegralInRange<std::size_t>(0, 5000), static_cast<char>(in_.ConsumeIntegral<std::uint8_t>()));
    }
    return in_.ConsumeRandomLengthString(300);
  }

  std::int64_t some_size(std::int64_t limit) {
    switch (in_.ConsumeIntegralInRange(0, 7)) {
      case 0:
        return in_.ConsumeIntegralInRange<std::int64_t>(-3, 0);
      case 1:
        return in_.ConsumeIntegralInRange<std::int64_t>(1, 70000);
      case 2:
        return limit + in_.ConsumeIntegralInRange<std::int64_t>(1, 3);
      default:
        return in_.ConsumeIntegralInRange<std::int64_t>(1, 600);
    }
  }

  static char_range range_of(const std::string& s) { return {s.data(), s.data() + s.size()}; }

  // A slice of the text's own bytes, as offset and count.
  std::pair<std::size_t, std::size_t> own_slice(const text_slot& slot) {
    std::size_t from = in_.ConsumeIntegralInRange<std::size_t>(0, slot.model.size());
    std::size_t count = in_.ConsumeIntegralInRange<std::size_t>(0, slot.model.size() - from);
    return {from, count};
  }

  // After a reserve that left the content to the caller: the caller writes
  // a terminator after the first `kept` bytes.
  static void terminate_after(text_slot& slot, std::size_t kept) {
    text_buffer& t = *slot.text;
    t.length = static_cast<std::int32_t>(kept + 1);
    t.buffer[kept] = '\0';
    slot.model.resize(kept);
  }

  void step() {
    const int op = in_.ConsumeIntegralInRange(0, 15);
    text_slot& ts = texts_[in_.ConsumeIntegralInRange(0, text_slots - 1)];
    text_slot& other = texts_[in_.ConsumeIntegralInRange(0, text_slots - 1)];
    array_slot& as = arrays_[in_.ConsumeIntegralInRange(0, array_slots - 1)];
    text_buffer& t = *ts.text;
    real_array& a = *as.array;
    switch (op) {
      case 0: {  // construct from a range
        std::string bytes = some_bytes();
        ts.text.reset();
        ts.text.emplace(range_of(bytes));
        ts.raw = false;
        ts.model = bytes;
        break;
      }
      case 1: {  // assign; on a raw text only a non-empty range
        std::string bytes = some_bytes();
        if (ts.raw && bytes.empty()) break;
        t.assign(range_of(bytes));
        ts.raw = false;
        ts.model = bytes;
        break;
      }
      case 2: {  // assign a slice of the text itself
        if (ts.raw) break;
        auto [from, count] = own_slice(ts);
        t.assign({t.buffer + from, t.buffer + from + count});
        ts.model = ts.model.substr(from, count);
        break;
      }
      case 3: {  // append
        if (ts.raw) break;
        std::string bytes = some_bytes();
        if (ts.model.size() + bytes.size() > largest_text) break;
        t.append(range_of(bytes));
        ts.model += bytes;
        break;
      }
      case 4: {  // append a slice of the text itself
        if (ts.raw) break;
        auto [from, count] = own_slice(ts);
        if (ts.model.size() + count > largest_text) break;
        std::string slice = ts.model.substr(from, count);
        t.append({t.buffer + from, t.buffer + from + count});
        ts.model += slice;
        break;
      }
      case 5: {  // append with doubling growth
        if (ts.raw) break;
        std::string bytes = some_bytes();
        if (ts.model.size() + bytes.size() > largest_text) break;
        t.append_grown(range_of(bytes));
        ts.model += bytes;
        break;
      }
      case 6: {  // one byte as string_out adds a word's blank: over the terminator, then a new one
        if (t.capacity == 0) break;  // the shared empty byte is never written
        char c = static_cast<char>(in_.ConsumeIntegral<std::uint8_t>());
        t.buffer[t.length - 1] = c;
        t.push_byte_grown('\0');
        ts.model += c;
        break;
      }
      case 7: {  // reserve
        std::int64_t size = some_size(text_buffer::max_bytes);
        bool keep = in_.ConsumeBool();
        if (size > text_buffer::max_bytes) {
          expect_refused([&] { t.reserve(size, keep); }, "Text too large");
          break;
        }
        const std::int32_t old_capacity = t.capacity;
        t.reserve(size, keep);
        if (size <= 0) {
          FUZZ_CHECK(t.capacity == 0 && t.length == 0, "reserve(<= 0) leaves a raw text");
          ts.raw = true;
          ts.model.clear();
          break;
        }
        if (size != old_capacity) {
          FUZZ_CHECK(static_cast<std::uint64_t>(t.capacity) == block_storage::round_bytes(static_cast<std::uint64_t>(size)),
                     "reserve gives the rounded capacity");
        }
        FUZZ_CHECK(t.length <= t.capacity, "reserve leaves no length past the block");
        const bool copied = keep && old_capacity != 0;
        if (ts.raw || !copied) {
          terminate_after(ts, 0);  // nothing was copied: the caller writes the text
        } else if (static_cast<std::int64_t>(ts.model.size()) + 1 > size) {
          terminate_after(ts, static_cast<std::size_t>(size - 1));  // shrunk below the text
        }
        ts.raw = false;
        break;
      }
      case 8:  // release
        t.release();
        ts.raw = true;
        ts.model.clear();
        break;
      case 9: {  // copy from another text or itself
        t.copy_from(*other.text);
        ts.raw = other.raw;
        ts.model = other.model;
        break;
      }
      case 10:  // destroy and make a fresh empty text
        ts.text.reset();
        ts.text.emplace();
        ts.raw = false;
        ts.model.clear();
        break;
      case 11: {  // array append: a full array doubles, from 8, without rounding
        double value = in_.ConsumeFloatingPoint<double>();
        const std::int32_t old_capacity = a.capacity;
        const std::int32_t old_count = a.count;
        a.append(value);
        as.model.push_back(value);
        const std::int32_t grown = old_count == 0 ? 8 : 2 * old_count;
        FUZZ_CHECK(a.capacity == (old_count == old_capacity ? grown : old_capacity),
                   "append grows a full array to twice its count, and only a full one");
        break;
      }
      case 12: {  // array reserve
        std::int64_t n = some_size(real_array::max_elements);
        bool keep = in_.ConsumeBool();
        if (n > real_array::max_elements) {
          expect_refused([&] { a.reserve(n, keep); }, "Array too large");
          break;
        }
        const std::int32_t old_capacity = a.capacity;
        a.reserve(n, keep);
        if (n <= 0) {
          as.model.clear();
          break;
        }
        if (n != old_capacity) {
          FUZZ_CHECK(static_cast<std::uint64_t>(a.capacity) == block_storage::round_elements(static_cast<std::uint64_t>(n)),
                     "reserve gives the rounded capacity");
        }
        FUZZ_CHECK(a.count <= a.capacity, "reserve leaves no count past the block");
        // The caller keeps what reserve kept: everything, the first n, or
        // nothing without keep.
        std::size_t kept = keep || n == old_capacity ? std::min<std::size_t>(as.model.size(), static_cast<std::size_t>(n)) : 0;
        if (old_capacity == 0) kept = 0;
        a.count = static_cast<std::int32_t>(kept);
        as.model.resize(kept);
        break;
      }
      case 13:  // array release
        a.release_storage();
        as.model.clear();
        break;
      case 14:  // destroy and make a fresh array
        as.array.reset();
        as.array.emplace();
        as.model.clear();
        break;
      default: {  // refused requests leave everything as it was
        expect_refused([&] { t.reserve(text_buffer::max_bytes + 1, true); }, "Text too large");
        expect_refused([&] { a.reserve(real_array::max_elements + 1, true); }, "Array too large");
        break;
      }
    }
  }

  void check_all() {
    std::uint64_t owned = 0;
    for (int i = 0; i < text_slots; ++i) {
      check_text(texts_[i], i);
      owned += texts_[i].text->capacity != 0 ? 1 : 0;
    }
    for (int i = 0; i < array_slots; ++i) {
      check_array(arrays_[i], i);
      owned += arrays_[i].array->capacity != 0 ? 1 : 0;
    }
    FUZZ_CHECK(blocks_out() - base_blocks_ == owned,
               "blocks out " + std::to_string(blocks_out() - base_blocks_) + ", owned " + std::to_string(owned));
  }

  FuzzedDataProvider& in_;
  text_slot texts_[text_slots];
  array_slot arrays_[array_slots];
  std::uint64_t base_blocks_ = 0;
};

}  // namespace
}  // namespace lagscan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  lagscan::fuzz::session(input).run();
  return 0;
}
