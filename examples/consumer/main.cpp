// Vectors, a matrix-vector product and a model run through the installed
// nubra package; the model is the tour's nearest-centroid classifier.

#include <iostream>

#include <nubra/operations/gemv.h>
#include <nubra/operations/show.h>
#include <nubra/types/Matrix.h>
#include <nubra/types/Model.h>
#include <nubra/types/Vector.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: consumer MODEL\n";
        return 2;
    }

    // y = A x for A with rows (1, 2, 3) and (4, 5, 6) and x = (1, 1, 1).
    Nubra::Matrix<double> A(2, 3);
    Nubra::Vector<double> x(3), y(2);
    for (size_t i = 0; i < 2; ++i)
        for (size_t j = 0; j < 3; ++j)
            A[{i, j}] = 3.0 * i + j + 1;
    for (size_t j = 0; j < 3; ++j)
        x[j] = 1;
    Nubra::gemv(1.0, 0.0, A, x, y);
    Nubra::show(y, std::cout);
    std::cout << std::defaultfloat; // show leaves the stream in scientific notation

    // The scores of the point (3, 1) against the centroids (0, 0), (4, 0), (0, 4).
    Nubra::Onnx::Model model(argv[1]);
    model.set<float>(0, {0, 0}, 3);
    model.set<float>(0, {0, 1}, 1);
    model.run();
    std::cout << "scores";
    for (int64_t k = 0; k < 3; ++k)
        std::cout << " " << model.get<float>(0, {0, k});
    std::cout << "\n";
}
