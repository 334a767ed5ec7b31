#include "training/context.h"

TrainingContext::TrainingContext(Threads& threads, Ranks const& ranks)
    : TrainingContext(threads, ranks, BestKernels()) {}

TrainingContext::TrainingContext(Threads& threads, Ranks const& ranks, Kernels const& kernels)
    : threads(threads), ranks(ranks), kernels(kernels) {}

// Never destroyed, like the program's threads, which it uses.
TrainingContext& ProgramTrainingContext() {
  static TrainingContext* context = new TrainingContext(ProgramThreads(), ProgramRanks());
  return *context;
}
