#include "tools/validator/product.h"

namespace validator {

namespace {

const Product kProducts[] = {
    {"ktr2", 10762383u, false, 0, 0, 1, 15, false},
    {"ktr4", 10762383u, false, 0, 0, 1, 15, true},
    {"qspan", 10762385u, true, 4, 1, 3, 14, true},
};

}  // namespace

const Product* findProduct(const std::string& library) {
    for (const Product& p : kProducts) {
        if (p.library == library) return &p;
    }
    return nullptr;
}

}  // namespace validator
