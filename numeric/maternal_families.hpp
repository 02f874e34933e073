// Grouping of data records into maternal families, shared by both programs.
//
// A head record (value 1 equal to the family_head_code 2.0) opens a family for the records
// that name its animal_id as their dam_id. Heads are taken in file order:
//   - a head that already has a family keeps it; otherwise it takes the next family number;
//   - every record j (the head itself and records already placed included) whose dam_id
//     equals the head's animal_id moves to the head's family;
//   - a head that got a new number and that no record names as dam gives the number back
//     and stays unplaced.
// The next family number after the last head is n_families; records still unplaced form
// the rest group, family n_families (always present, possibly empty).
//
// Codes and identifiers are compared exactly as reals (so 0.0 equals -0.0, and a NaN equals
// nothing). The grouping runs in linear time: records are indexed by dam_id, and a head's
// claim on its daughters is recorded once for the whole group of records sharing that
// dam_id instead of record by record.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

constexpr double family_head_code = 2.0;

// One value position of every record in a table: record i's value is p[(i - 1) * stride].
// A table stored by columns (records fastest) has stride 1 and p at the column's start;
// a table stored record by record has stride = values per record.
struct value_column {
  const double* p = nullptr;
  std::int64_t stride = 1;
  double operator()(std::int64_t i) const { return p[(i - 1) * stride]; }
};

// Groups n_records records into maternal families. head, animal_id and dam_id give each
// record's value 1 (head code), its own identifier and its dam's identifier. On return
// record_family(i) (resized to n_records) holds the family of record i, from 1 to the
// result; the result is n_families, the rest group's number.
std::int32_t form_maternal_families(std::int32_t n_records, value_column head,
                                    value_column animal_id, value_column dam_id,
                                    rt::vec1<std::int32_t>& record_family);

// Lists the records family by family, in record order inside each family: the records of
// family f are order(family_start(f)) .. order(family_start(f + 1) - 1). family_start gets
// n_families + 1 elements, order n_records. Every record_family value must lie in
// 1 .. n_families.
void list_family_records(std::int32_t n_records, const rt::vec1<std::int32_t>& record_family,
                         std::int32_t n_families, rt::vec1<std::int32_t>& family_start,
                         rt::vec1<std::int32_t>& order);

}  // namespace num
