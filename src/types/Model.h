#pragma once
// An ONNX Runtime session over one model file, with one tensor per input and
// output made at construction and reused by every run. Single elements are
// written into the inputs and read from the outputs through typed views.

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#ifndef ORT_API_MANUAL_INIT
#define ORT_API_MANUAL_INIT
#endif
#include <onnxruntime_cxx_api.h>

#include "../utils.h"

namespace Nubra::Onnx {

namespace detail {

// API table 17 is requested once, when the library is loaded; a runtime that
// can't serve it leaves the table null and every model constructor throws.
inline const bool apiRequested = [] {
    Ort::InitApi(OrtGetApiBase()->GetApi(17));
    return true;
}();

// The runtime reads ORT_DISABLE_TELEMETRY when it makes its first
// environment and keeps to what it read for the process's life. Left unset,
// its telemetry writes a device id and an event queue under $HOME and a log
// in /tmp, may run sh for an id, and uploads the events from a thread of its
// own. While one of these lives, the variable is 1 unless the caller set it.
class TelemetryOff {
public:
    TelemetryOff() : m_set(std::getenv(name) == nullptr && setenv(name, "1", 0) == 0) {}
    ~TelemetryOff()
    {
        if (m_set)
            unsetenv(name);
    }
    TelemetryOff(const TelemetryOff&) = delete;
    TelemetryOff& operator=(const TelemetryOff&) = delete;

private:
    static constexpr const char* name = "ORT_DISABLE_TELEMETRY";
    const bool m_set;
};

} // namespace detail

class Model {
public:
    // One element of a tensor at a time: set and get have the runtime check
    // the coordinates; find checks them against the shape itself and goes
    // straight to the tensor's buffer, whose address never changes.
    template <class T>
    class TensorView {
    public:
        TensorView(Ort::Value* value, ONNXTensorElementDataType type, const std::vector<int64_t>& shape,
                   const std::string& name)
            : m_tensor(value), m_type(type), m_shape(shape), m_name(name), m_strides(rowMajorStrides(shape)),
              m_data(value->GetTensorMutableData<T>())
        {
        }

        TensorView(const TensorView&) = delete;
        TensorView& operator=(const TensorView&) = delete;

        void set(const std::vector<int64_t>& tensorIdx, T value) { m_tensor->At<T>(tensorIdx) = value; }

        T get(const std::vector<int64_t>& tensorIdx) const { return m_tensor->At<T>(tensorIdx); }

        // The element at the count coordinates of tensorIdx, or null unless
        // there is one per dimension and each lies inside it.
        T* find(const int64_t* tensorIdx, size_t count) const
        {
            if (count != m_shape.size())
                return nullptr;
            int64_t offset = 0;
            for (size_t d = 0; d < count; ++d) {
                if (tensorIdx[d] < 0 || tensorIdx[d] >= m_shape[d])
                    return nullptr;
                offset += tensorIdx[d] * m_strides[d];
            }
            return m_data + offset;
        }

    private:
        static std::vector<int64_t> rowMajorStrides(const std::vector<int64_t>& shape)
        {
            std::vector<int64_t> strides(shape.size(), 1);
            for (size_t d = shape.size(); d-- > 1;)
                strides[d - 1] = strides[d] * shape[d];
            return strides;
        }

        Ort::Value* m_tensor;
        const ONNXTensorElementDataType m_type;
        const std::vector<int64_t> m_shape;
        const std::string m_name;
        const std::vector<int64_t> m_strides;
        T* const m_data;
    };

    // One alternative per element type, in the runtime's enumeration order.
    using TensorViewVariant =
        std::variant<std::shared_ptr<TensorView<float>>, std::shared_ptr<TensorView<uint8_t>>,
                     std::shared_ptr<TensorView<uint16_t>>, std::shared_ptr<TensorView<int16_t>>,
                     std::shared_ptr<TensorView<int32_t>>, std::shared_ptr<TensorView<int64_t>>,
                     std::shared_ptr<TensorView<std::string>>, std::shared_ptr<TensorView<bool>>,
                     std::shared_ptr<TensorView<double>>, std::shared_ptr<TensorView<uint32_t>>,
                     std::shared_ptr<TensorView<uint64_t>>, std::shared_ptr<TensorView<std::complex<float>>>,
                     std::shared_ptr<TensorView<std::complex<double>>>>;

    explicit Model(const std::string& path)
        : m_onnxEnvironment(environment(path)),
          m_session(m_onnxEnvironment, path.c_str(), unoptimised()),
          m_allocator(m_session, Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault))
    {
        makeInputs();
        makeOutputs();
        planOutputs();
    }

    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // Evaluates the graph on the input tensors; results land in the output tensors.
    void run()
    {
        Ort::RunOptions runoptions;
        runoptions.SetRunLogVerbosityLevel(5);
        // Ort::Value is an OrtValue* in memory, as the runtime's own wrapper of Run relies on.
        Ort::ThrowOnError(Ort::GetApi().Run(m_session, runoptions, m_inputNames.data(),
                                            reinterpret_cast<const OrtValue* const*>(m_inputArray.data()),
                                            m_inputCount, m_runNames.data(), m_runNames.size(), m_runOutputs.data()));
        for (const Copy& c : m_copies)
            std::memcpy(c.to->GetTensorMutableRawData(), c.from->GetTensorRawData(), c.bytes);
    }

    template <class T>
    void set(size_t inputIdx, const std::vector<int64_t>& tensorIdx, T value)
    {
        view<T>("input", inputIdx, m_inputCount, m_inputNames, m_inputArray, m_inputs)->set(tensorIdx, value);
    }

    template <class T>
    T get(size_t outputIdx, const std::vector<int64_t>& tensorIdx)
    {
        return view<T>("output", outputIdx, m_outputCount, m_outputNames, m_outputArray, m_outputs)->get(tensorIdx);
    }

    // The view of input or output idx of element type T, or null when there
    // is no such tensor or it has no view of that type.
    template <class T>
    TensorView<T>* findInput(size_t idx) const
    {
        return idx < m_inputCount ? find<T>(m_inputs[idx]) : nullptr;
    }

    template <class T>
    TensorView<T>* findOutput(size_t idx) const
    {
        return idx < m_outputCount ? find<T>(m_outputs[idx]) : nullptr;
    }

private:
    template <class T>
    static TensorView<T>* find(const TensorViewVariant& tensor)
    {
        const auto* view = std::get_if<std::shared_ptr<TensorView<T>>>(&tensor);
        return view ? view->get() : nullptr;
    }

    // The first step of construction: refuses what can't become a session.
    // The runtime takes the path as a C string, which would end at a NUL.
    static Ort::Env environment(const std::string& path)
    {
        if (path.find('\0') != std::string::npos)
            throw std::invalid_argument("model path contains an embedded null byte");
        if (Ort::Global<void>::api_ == nullptr)
            fail("onnx runtime can't provide api version 17");
        const detail::TelemetryOff quiet;
        return Ort::Env(ORT_LOGGING_LEVEL_WARNING, path.c_str());
    }

    static Ort::SessionOptions unoptimised()
    {
        Ort::SessionOptions options;
        options.SetGraphOptimizationLevel(ORT_DISABLE_ALL);
        return options;
    }

    void makeInputs()
    {
        m_inputCount = m_session.GetInputCount();
        makeTensors(
            "input", m_inputCount, m_inputNameStore, m_inputNames, m_inputArray, m_inputs,
            [this](size_t i) { return m_session.GetInputNameAllocated(i, m_allocator); },
            [this](size_t i) { return m_session.GetInputTypeInfo(i); });
    }

    void makeOutputs()
    {
        m_outputCount = m_session.GetOutputCount();
        makeTensors(
            "output", m_outputCount, m_outputNameStore, m_outputNames, m_outputArray, m_outputs,
            [this](size_t i) { return m_session.GetOutputNameAllocated(i, m_allocator); },
            [this](size_t i) { return m_session.GetOutputTypeInfo(i); });
    }

    // Names, tensors and views of one side, in session order. The arrays are
    // reserved up front so the views' pointers into m_*Array stay valid.
    template <class NameOf, class TypeInfoOf>
    void makeTensors(const char* side, size_t count, std::vector<std::unique_ptr<char[]>>& nameStore,
                     std::vector<const char*>& names, std::vector<Ort::Value>& array,
                     std::vector<TensorViewVariant>& views, NameOf nameOf, TypeInfoOf typeInfoOf)
    {
        nameStore.reserve(count);
        names.reserve(count);
        views.reserve(count);
        array.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            {
                const Ort::AllocatedStringPtr fetched = nameOf(i);
                const size_t length = std::strlen(fetched.get());
                nameStore.push_back(std::make_unique<char[]>(length + 1));
                std::memcpy(nameStore.back().get(), fetched.get(), length + 1);
                names.push_back(nameStore.back().get());
            }
            std::cout << "Nubra::Onnx::Model:: " << side << " name " << i << " '" << names[i] << "'\n" << std::flush;

            const Ort::TypeInfo typeInfo = typeInfoOf(i);
            if (typeInfo.GetONNXType() != ONNX_TYPE_TENSOR)
                fail(side, " ", i, " '", names[i], "' is not a tensor");
            const auto info = typeInfo.GetTensorTypeAndShapeInfo();
            const std::vector<int64_t> shape = info.GetShape();
            std::cout << "Nubra::Onnx::Model:: " << side << " shape " << i << " '{";
            for (size_t d = 0; d < shape.size(); ++d)
                std::cout << (d ? ", " : "") << shape[d];
            std::cout << "}'\n";

            const ONNXTensorElementDataType type = info.GetElementType();
            array.push_back(Ort::Value::CreateTensor(m_allocator, shape.data(), shape.size(), type));
            zeroFill(array.back(), type, side, i, names[i]);

            TensorViewVariant tensorView;
            MakeTensor(tensorView, &array.back(), type, shape, std::string(names[i]));
            views.push_back(std::move(tensorView));
        }
    }

    struct Copy {
        const Ort::Value* from;
        Ort::Value* to;
        size_t bytes;
    };

    // The runtime is asked for each output name once. After a run, copies
    // fill what it left unwritten: an output that is also an input gets the
    // input (the runtime leaves it untouched), then an output listed again
    // gets what was written at the name's first listing.
    void planOutputs()
    {
        std::vector<Copy> repeats;
        for (size_t o = 0; o < m_outputCount; ++o) {
            for (size_t i = 0; i < m_inputCount; ++i)
                if (std::strcmp(m_outputNames[o], m_inputNames[i]) == 0)
                    m_copies.push_back(copyInto(o, m_inputArray[i], "input", i, m_inputNames[i]));
            size_t first = 0;
            while (std::strcmp(m_outputNames[first], m_outputNames[o]) != 0)
                ++first;
            if (first < o)
                repeats.push_back(copyInto(o, m_outputArray[first], "output", first, m_outputNames[first]));
            else {
                m_runNames.push_back(m_outputNames[o]);
                m_runOutputs.push_back(m_outputArray[o]);
            }
        }
        m_copies.insert(m_copies.end(), repeats.begin(), repeats.end());
    }

    // A copy from a tensor into output o, of the bytes both of them hold.
    Copy copyInto(size_t o, const Ort::Value& from, const char* side, size_t idx, const char* name)
    {
        const size_t bytes = std::min(byteSize(from, elementType(from), side, idx, name),
                                      byteSize(m_outputArray[o], elementType(m_outputArray[o]), "output", o,
                                               m_outputNames[o]));
        return {&from, &m_outputArray[o], bytes};
    }

    static ONNXTensorElementDataType elementType(const Ort::Value& tensor)
    {
        return tensor.GetTensorTypeAndShapeInfo().GetElementType();
    }

    // Only float tensors get a view; the half-precision floats are refused.
    static void MakeTensor(TensorViewVariant& tensor, Ort::Value* value, ONNXTensorElementDataType type,
                           const std::vector<int64_t>& shape, const std::string& name)
    {
        switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED:
            fail("Unsupported datatype 'ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED'");
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT:
            std::cout << "Nubra::Onnx::MakeTensor:: making tensor of type 'float'\n" << std::flush;
            tensor = std::make_shared<TensorView<float>>(value, type, shape, name);
            break;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16:
            fail("Unsupported datatype 'ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16'");
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16:
            fail("Unsupported datatype 'ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16'");
        default:
            break;
        }
    }

    // New tensors hold whatever the allocator had; clear them. String tensors
    // are already made of empty strings.
    static void zeroFill(Ort::Value& tensor, ONNXTensorElementDataType type, const char* side, size_t idx,
                         const char* name)
    {
        if (const size_t bytes = byteSize(tensor, type, side, idx, name); bytes > 0)
            std::memset(tensor.GetTensorMutableRawData(), 0, bytes);
    }

    // The bytes of a tensor's elements; 0 for strings, which aren't flat.
    static size_t byteSize(const Ort::Value& tensor, ONNXTensorElementDataType type, const char* side, size_t idx,
                           const char* name)
    {
        const size_t count = tensor.GetTensorTypeAndShapeInfo().GetElementCount();
        switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_STRING:
            return 0;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FN:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FNUZ:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E5M2:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E5M2FNUZ:
            return count;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT16:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT16:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16:
            return 2 * count;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT32:
            return 4 * count;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT64:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_COMPLEX64:
            return 8 * count;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_COMPLEX128:
            return 16 * count;
#if ORT_API_VERSION >= 18
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT4:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT4:
            return (count + 1) / 2;
#endif
        default:
            fail("unsupported element type ", static_cast<int>(type), " of ", side, " ", idx, " '", name, "'");
        }
    }

    // The view of tensor idx of one side, refused before any access if the
    // index is out of range or the tensor has no view of element type T.
    template <class T>
    static std::shared_ptr<TensorView<T>> view(const char* side, size_t idx, size_t count,
                                               const std::vector<const char*>& names,
                                               const std::vector<Ort::Value>& array,
                                               const std::vector<TensorViewVariant>& views)
    {
        if (idx >= count)
            fail(side, " index ", idx, " exceeds max number of ", side, "s ", count);
        std::shared_ptr<TensorView<T>> tensor = std::get<std::shared_ptr<TensorView<T>>>(views[idx]);
        if (!tensor)
            fail(side, " ", idx, " '", names[idx], "' holds ", typeName(elementType(array[idx])),
                 " elements; only float tensors can be set and read");
        return tensor;
    }

    // ONNX's name of an element type that construction accepts.
    static const char* typeName(ONNXTensorElementDataType type)
    {
        switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT:
            return "float";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8:
            return "uint8";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8:
            return "int8";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT16:
            return "uint16";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT16:
            return "int16";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32:
            return "int32";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64:
            return "int64";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_STRING:
            return "string";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL:
            return "bool";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE:
            return "double";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT32:
            return "uint32";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT64:
            return "uint64";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_COMPLEX64:
            return "complex64";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_COMPLEX128:
            return "complex128";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FN:
            return "float8e4m3fn";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E4M3FNUZ:
            return "float8e4m3fnuz";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E5M2:
            return "float8e5m2";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT8E5M2FNUZ:
            return "float8e5m2fnuz";
#if ORT_API_VERSION >= 18
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT4:
            return "uint4";
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT4:
            return "int4";
#endif
        default:
            return "unknown";
        }
    }

    Ort::Env m_onnxEnvironment;
    Ort::SessionOptions m_options;
    Ort::Session m_session;
    Ort::Allocator m_allocator;

    size_t m_inputCount = 0;
    std::vector<std::unique_ptr<char[]>> m_inputNameStore; // owns the strings m_inputNames points to
    std::vector<const char*> m_inputNames;
    std::vector<Ort::Value> m_inputArray;
    std::vector<TensorViewVariant> m_inputs;

    size_t m_outputCount = 0;
    std::vector<std::unique_ptr<char[]>> m_outputNameStore;
    std::vector<const char*> m_outputNames;
    std::vector<Ort::Value> m_outputArray;
    std::vector<TensorViewVariant> m_outputs;

    std::vector<const char*> m_runNames; // each output name once, and its tensor
    std::vector<OrtValue*> m_runOutputs;
    std::vector<Copy> m_copies;
};

} // namespace Nubra::Onnx
