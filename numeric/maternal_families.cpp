#include "numeric/maternal_families.hpp"

#include <cmath>
#include <cstring>

namespace num {

namespace {

// Bit pattern under which an identifier is indexed: equal reals give equal keys (-0.0 is
// folded onto 0.0). NaN never compares equal and is not indexed at all.
std::uint64_t id_key(double x) {
  if (x == 0.0) x = 0.0;
  std::uint64_t k;
  std::memcpy(&k, &x, sizeof k);
  return k;
}

std::uint64_t mix(std::uint64_t k) {  // spreads the bits of round numbers over the table
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdULL;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ULL;
  k ^= k >> 33;
  return k;
}

// Open-addressing table from an identifier to the number of its dam group (1 ..).
struct id_index {
  rt::vec1<std::uint64_t> key;
  rt::vec1<std::int32_t> group;  // 0: free slot
  std::uint64_t mask = 0;

  explicit id_index(std::int64_t n) {
    std::int64_t cap = 16;
    while (cap < 2 * n) cap *= 2;
    key.assign(cap, 0);
    group.assign(cap, 0);
    mask = static_cast<std::uint64_t>(cap - 1);
  }
  // Slot of k: the slot holding it, or the free slot where it belongs.
  std::int64_t slot(std::uint64_t k) const {
    std::uint64_t h = mix(k) & mask;
    while (group(static_cast<std::int64_t>(h) + 1) != 0 && key(static_cast<std::int64_t>(h) + 1) != k)
      h = (h + 1) & mask;
    return static_cast<std::int64_t>(h) + 1;
  }
};

}  // namespace

std::int32_t form_maternal_families(std::int32_t n_records, value_column head,
                                    value_column animal_id, value_column dam_id,
                                    rt::vec1<std::int32_t>& record_family) {
  const std::int32_t n = n_records > 0 ? n_records : 0;
  record_family.assign(n, 0);

  // Group the records by dam_id: dam_group(j) is the group of record j (0 for a NaN dam_id).
  id_index index(n);
  rt::vec1<std::int32_t> dam_group(n, 0);
  std::int32_t n_groups = 0;
  for (std::int32_t j = 1; j <= n; ++j) {
    double d = dam_id(j);
    if (std::isnan(d)) continue;
    std::int64_t s = index.slot(id_key(d));
    if (index.group(s) == 0) {
      index.key(s) = id_key(d);
      index.group(s) = ++n_groups;
    }
    dam_group(j) = index.group(s);
  }

  // A record's family is the later of two writes: its own (a head taking a new number) and
  // the last claim on its dam group. Writes are stamped with a running clock; 0 = never.
  rt::vec1<std::int64_t> own_time(n, 0), group_time(n_groups, 0);
  rt::vec1<std::int32_t> group_family(n_groups, 0);
  std::int64_t clock = 0;
  auto family_of = [&](std::int32_t j) -> std::int32_t {
    std::int32_t g = dam_group(j);
    if (g != 0 && group_time(g) > own_time(j)) return group_family(g);
    return record_family(j);  // holds the own write until the end
  };

  std::int32_t next_family = 1;
  for (std::int32_t i = 1; i <= n; ++i) {
    if (head(i) != family_head_code) continue;
    double a = animal_id(i);
    std::int32_t g = 0;
    if (!std::isnan(a)) {
      std::int64_t s = index.slot(id_key(a));
      g = index.group(s);
    }
    if (g == 0) continue;  // no daughter: a placed head keeps its family, a new one is undone
    std::int32_t f = family_of(i);
    if (f == 0) {
      f = next_family++;
      record_family(i) = f;
      own_time(i) = ++clock;
    }
    group_family(g) = f;  // every record naming this head as dam joins f
    group_time(g) = ++clock;
  }

  const std::int32_t n_families = next_family;
  for (std::int32_t j = 1; j <= n; ++j) {
    std::int32_t f = family_of(j);
    record_family(j) = f != 0 ? f : n_families;
  }
  return n_families;
}

void list_family_records(std::int32_t n_records, const rt::vec1<std::int32_t>& record_family,
                         std::int32_t n_families, rt::vec1<std::int32_t>& family_start,
                         rt::vec1<std::int32_t>& order) {
  const std::int32_t n = n_records > 0 ? n_records : 0;
  family_start.assign(static_cast<std::int64_t>(n_families) + 1, 0);
  order.assign(n, 0);
  for (std::int32_t j = 1; j <= n; ++j) family_start(record_family(j)) += 1;  // counts
  std::int32_t first = 1;
  for (std::int32_t f = 1; f <= n_families + 1; ++f) {  // counts -> first positions
    std::int32_t c = f <= n_families ? family_start(f) : 0;
    family_start(f) = first;
    first += c;
  }
  rt::vec1<std::int32_t> fill(n_families, 0);  // records placed so far per family
  for (std::int32_t j = 1; j <= n; ++j) {
    std::int32_t f = record_family(j);
    order(family_start(f) + fill(f)) = j;
    fill(f) += 1;
  }
}

}  // namespace num
