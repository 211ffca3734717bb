// Reference loop for the model benchmark: the same session settings and
// pre-allocated input and output tensors as nubracore.model, run directly
// through ONNX Runtime's C++ API; then Nubra::Onnx::Model::run on the same
// file, which separates the model's own cost from the Python call's.
//
//   ort_run MODEL [RUNS [REPEATS]]
// ends with two lines, "ort MEDIAN BEST" and "model MEDIAN BEST", in
// nanoseconds per run.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "types/Model.h"

namespace {

// Median and best nanoseconds per call of run, over repeats loops of runs calls.
template <class Run>
std::pair<double, double> perCall(Run run, long runs, int repeats)
{
    for (long i = 0; i < runs / 10; ++i)
        run();
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < runs; ++i)
            run();
        const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count() / runs);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: ort_run MODEL [RUNS [REPEATS]]\n";
        return 2;
    }
    const std::string path = argv[1];
    const long runs = argc > 2 ? std::atol(argv[2]) : 20000;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 7;

    Ort::Env env(ORT_LOGGING_LEVEL_WARNING, path.c_str());
    Ort::SessionOptions options;
    options.SetGraphOptimizationLevel(ORT_DISABLE_ALL);
    Ort::Session session(env, path.c_str(), options);
    Ort::Allocator allocator(session, Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault));

    std::vector<Ort::AllocatedStringPtr> nameHolders;
    std::vector<const char*> inputNames, outputNames;
    std::vector<Ort::Value> inputs, outputs;
    auto make = [&](Ort::AllocatedStringPtr name, const Ort::TypeInfo& info, std::vector<const char*>& names,
                    std::vector<Ort::Value>& values) {
        names.push_back(name.get());
        nameHolders.push_back(std::move(name));
        const auto tensor = info.GetTensorTypeAndShapeInfo();
        const auto shape = tensor.GetShape();
        values.push_back(Ort::Value::CreateTensor(allocator, shape.data(), shape.size(), tensor.GetElementType()));
    };
    for (size_t i = 0; i < session.GetInputCount(); ++i)
        make(session.GetInputNameAllocated(i, allocator), session.GetInputTypeInfo(i), inputNames, inputs);
    for (size_t i = 0; i < session.GetOutputCount(); ++i)
        make(session.GetOutputNameAllocated(i, allocator), session.GetOutputTypeInfo(i), outputNames, outputs);
    for (auto& input : inputs)
        std::fill_n(input.GetTensorMutableData<float>(), input.GetTensorTypeAndShapeInfo().GetElementCount(), 0.5f);

    const auto [ortMedian, ortBest] = perCall(
        [&] {
            Ort::RunOptions runOptions;
            runOptions.SetRunLogVerbosityLevel(5);
            session.Run(runOptions, inputNames.data(), inputs.data(), inputs.size(), outputNames.data(),
                        outputs.data(), outputs.size());
        },
        runs, repeats);

    Nubra::Onnx::Model model(path);
    const auto [modelMedian, modelBest] = perCall([&] { model.run(); }, runs, repeats);

    std::cout << "ort " << ortMedian << " " << ortBest << "\nmodel " << modelMedian << " " << modelBest << "\n";
}
