#include "driver/search.h"

#include "support/values.h"

// The first solution always wins; a later one must be finite and strictly
// better; once the best is NaN nothing compares greater.
TEST(SearchTest, BestSolutionRule) {
  struct Case {
    int solution;
    double likelihood, best;
    bool replaces;
  } cases[] = {{0, kNaN, 0.0, true},   {0, -kInf, 0.0, true},  {1, -1.0, -2.0, true},
               {1, -2.0, -2.0, false}, {3, -3.0, -2.0, false}, {1, kInf, -2.0, false},
               {1, kNaN, -2.0, false}, {1, -1.0, -kInf, true}, {1, 1.0, kNaN, false}};
  for (auto const& c : cases)
    EXPECT_EQ(ReplacesBest(c.solution, c.likelihood, c.best), c.replaces)
        << c.solution << " " << c.likelihood << " " << c.best;
}
