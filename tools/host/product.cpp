#include "tools/host/product.h"

namespace host {

namespace {

const Product kProducts[] = {
    {"ktr2", "VESTRA KTR2 Array", false, 10762383u, false, 0, 0, 1, 15, false},
    {"ktr4", "VESTRA KTR4 Array", true, 10762383u, false, 0, 0, 1, 15, true},
    {"qspan", "Q.SPAN Array", true, 10762385u, true, 4, 1, 3, 14, true},
};

}  // namespace

std::span<const Product> everyProduct() { return kProducts; }

const Product* findProduct(const std::string& library) {
    for (const Product& p : kProducts) {
        if (p.library == library) return &p;
    }
    return nullptr;
}

std::string productNames(const char* separator) {
    std::string names;
    for (const Product& p : kProducts) names += (names.empty() ? "" : separator) + p.library;
    return names;
}

}  // namespace host
