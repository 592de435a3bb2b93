// The module file as a host uses it: loaded by path through the stand-in host
// and called through its entry point.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "reference.h"
#include "standin_call.h"

namespace {

const char* kInputError = "Mesh renumbering: wrong no. of input!";
const char* kOutputError = "Mesh renumbering: wrong no. of output";

TEST(CountErrors, InputCountIsCheckedFirst) {
  Array t({2, 2}, {1, 2, 3, 4});
  Array l({1, 2}, {2, 1});
  for (int nlhs : {0, 1, 2}) {
    expectRefused(call(nlhs, {}), kInputError);
    expectRefused(call(nlhs, {t.a}), kInputError);
    expectRefused(call(nlhs, {t.a, l.a, l.a}), kInputError);
  }
  expectRefused(call(0, {t.a, l.a}), kOutputError);
  expectRefused(call(2, {t.a, l.a}), kOutputError);
}

TEST(ConsoleLine, ExactlyOncePerAcceptedCallWithTheProcessorCount) {
  Array t({3, 4}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  Array l({5, 1}, {12, 1, 5, 5, 9});
  for (int k = 0; k < 3; ++k) {
    Outcome o = call(1, {t.a, l.a});
    EXPECT_EQ(o.console, consoleLine());
    hostDestroyArray(o.result);
  }
}

TEST(Shapes, ResultHasTheTablesRowsAndColumns) {
  std::mt19937_64 rng(3);
  const auto table = randomValues(rng, 12, 6);
  const auto list = randomValues(rng, 5, 6);
  Array t({3, 4}, table);
  Array column({5, 1}, list), row({1, 5}, list);
  Outcome a = call(1, {t.a, column.a}), b = call(1, {t.a, row.a});
  ASSERT_FALSE(a.failed);
  ASSERT_FALSE(b.failed);
  EXPECT_EQ(mxGetM(a.result), 3u);
  EXPECT_EQ(mxGetN(a.result), 4u);
  const auto want = referenceRelabel(table, list);
  for (const auto& got : {values(a.result), values(b.result)})
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(bitsOf(got[i]), bitsOf(want[i])) << i;
  hostDestroyArray(a.result);
  hostDestroyArray(b.result);

  Array empty(hostDouble, {0, 5});
  Outcome e = call(1, {empty.a, column.a});
  ASSERT_FALSE(e.failed);
  EXPECT_EQ(mxGetM(e.result), 0u);
  EXPECT_EQ(mxGetN(e.result), 5u);
  EXPECT_EQ(e.console, consoleLine());
  hostDestroyArray(e.result);

  // A 2x3x4 table gives a 2x12 result: the columns are all dimensions after the first.
  std::vector<double> cube(24);
  for (int i = 0; i < 24; ++i) cube[i] = i % 7;
  Array t3({2, 3, 4}, cube);
  Array l3({1, 3}, {6, 0, 6.5});
  Outcome c = call(1, {t3.a, l3.a});
  ASSERT_FALSE(c.failed);
  EXPECT_EQ(mxGetM(c.result), 2u);
  EXPECT_EQ(mxGetN(c.result), 12u);
  EXPECT_EQ(values(c.result), referenceRelabel(cube, {6, 0, 6.5}));
  hostDestroyArray(c.result);
}

TEST(BadClasses, EveryArgumentMustBeARealFullDoubleArray) {
  Array t({2, 2}, {1, 2, 3, 4});
  Array l({1, 2}, {2, 1});
  struct Bad {
    HostClass cls;
    int flags;
  };
  const Bad bad[] = {{hostSingle, 0},
                     {hostInt32, 0},
                     {hostLogical, 0},
                     {hostChar, 0},
                     {hostCell, 0},
                     {hostStruct, 0},
                     {hostDouble, hostSparseFlag},
                     {hostDouble, hostComplexFlag},
                     {hostDouble, hostSparseFlag | hostComplexFlag}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(testing::Message() << "class " << b.cls << " flags " << b.flags);
    Array wrong(b.cls, {2, 2}, b.flags);
    expectRefused(call(1, {wrong.a, l.a}),
                  "Mesh renumbering: table must be a real full double array");
    expectRefused(call(1, {t.a, wrong.a}),
                  "Mesh renumbering: list must be a real full double array");
  }
}

// These arrays have no data behind them: any read of them faults.
TEST(SizeLimits, CountsBeyondInt32AreRefusedBeforeAnyRead) {
  const size_t big = size_t{1} << 31;
  const size_t cores = static_cast<size_t>(omp_get_num_procs());
  Array l({1, 2}, {2, 1});
  Array t({2, 2}, {1, 2, 3, 4});
  const std::vector<std::vector<size_t>> tooLarge = {{big, 1},
                                                     {1, big},
                                                     {big + 1, 0},
                                                     {size_t{1} << 32, 1},
                                                     {65536, 32768},
                                                     {46341, 46341},
                                                     {2, size_t{1} << 30, 1},
                                                     {1, big - cores + 1},
                                                     {size_t{1} << 32 | 3, size_t{1} << 32 | 2}};
  for (const auto& dims : tooLarge) {
    Array huge(hostDouble, dims);
    if (mxGetNumberOfElements(huge.a) > 0) {
      ASSERT_EQ(mxGetPr(huge.a), nullptr);
    }
    expectRefused(call(1, {huge.a, l.a}), "Mesh renumbering: table too large");
  }
  for (const auto& dims : std::vector<std::vector<size_t>>{
           {big, 1}, {1, big}, {size_t{1} << 32, 1}, {65536, 32768}, {1, 1, big}}) {
    Array huge(hostDouble, dims);
    expectRefused(call(1, {t.a, huge.a}), "Mesh renumbering: list too large");
  }
}

// The dimension limit from both sides, where the other dimension is 0: the
// table has no entries and no data behind it, so only the check decides.
TEST(SizeLimits, EmptyTablesJustInsideAndAtTheDimensionLimit) {
  const size_t big = size_t{1} << 31;
  Array l({1, 2}, {2, 1});
  for (const auto& dims : std::vector<std::vector<size_t>>{{big - 1, 0}, {0, big - 1}}) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    Array empty(hostDouble, dims);
    ASSERT_EQ(mxGetPr(empty.a), nullptr);
    Outcome o = call(1, {empty.a, l.a});
    ASSERT_FALSE(o.failed) << o.error;
    EXPECT_EQ(mxGetM(o.result), dims[0]);
    EXPECT_EQ(mxGetN(o.result), dims[1]);
    EXPECT_EQ(o.console, consoleLine());
    hostDestroyArray(o.result);
  }
  for (const auto& dims : std::vector<std::vector<size_t>>{{big, 0}, {0, big}, {0, big, 1}}) {
    SCOPED_TRACE(testing::Message() << dims[0] << "x" << dims[1]);
    Array empty(hostDouble, dims);
    expectRefused(call(1, {empty.a, l.a}), "Mesh renumbering: table too large");
  }
  // An empty list of any shape is an empty list: the table comes back as it is.
  Array t({1, 3}, {5, -0.0, 7.5});
  Array emptyList(hostDouble, {big, 0});
  Outcome o = call(1, {t.a, emptyList.a});
  ASSERT_FALSE(o.failed) << o.error;
  const auto got = values(o.result);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(bitsOf(got[1]), bitsOf(-0.0));
  EXPECT_EQ(got[0], 5);
  EXPECT_EQ(got[2], 7.5);
  hostDestroyArray(o.result);
}

TEST(Recovery, ValidCallAfterErrorsAndNoArrayLeaks) {
  Array t({1, 3}, {5, 6, 7});
  Array l({1, 2}, {7, 5});
  Array cell(hostCell, {1, 1});
  const long alive = hostArraysAlive();
  for (int k = 0; k < 20; ++k) {
    call(1, {t.a});
    call(0, {t.a, l.a});
    call(1, {cell.a, l.a});
  }
  EXPECT_EQ(hostArraysAlive(), alive);
  Outcome o = call(1, {t.a, l.a});
  ASSERT_FALSE(o.failed);
  EXPECT_EQ(values(o.result), (std::vector<double>{2, 6, 1}));
  EXPECT_EQ(o.console, consoleLine());
  hostDestroyArray(o.result);
  EXPECT_EQ(hostArraysAlive(), alive);
}

}  // namespace
