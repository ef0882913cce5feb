// Control ids of the setup dialog's two templates (dialog/setup_dialog.rc):
// one for the splay-only products, one whose rows also carry a cabinet kind.
#pragma once

#include <cstdint>

#include "models/model_definition.h"

namespace dialog {

inline constexpr int32_t kDialogTemplateId = 101;
inline constexpr int32_t kCountPromptId = 1001;
inline constexpr int32_t kCountTextId = 1010;
inline constexpr int32_t kCountUpDownId = 1012;
inline constexpr int32_t kInstructionId = 1021;
inline constexpr int32_t kNoControl = 0;

struct RowControlIds {
    int32_t label;
    int32_t kindText;    // kNoControl without cabinet kinds
    int32_t kindUpDown;  // kNoControl without cabinet kinds
    int32_t splayText;
    int32_t splayUpDown;
    int32_t aimText;
};

struct DialogLayout {
    int32_t mailLinkId;
    int32_t webLinkId;
    int32_t logoBitmapId;  // bitmap resource shown by the template's bitmap static
    RowControlIds rows[models::kCellCapacity];  // cell 1 first
};

inline constexpr DialogLayout kSplayRowsLayout{
    .mailLinkId = 1024,
    .webLinkId = 1051,
    .logoBitmapId = 1002,
    .rows = {
        {1002, kNoControl, kNoControl, 1013, 1036, 1027},
        {1003, kNoControl, kNoControl, 1014, 1037, 1028},
        {1004, kNoControl, kNoControl, 1015, 1038, 1029},
        {1005, kNoControl, kNoControl, 1016, 1039, 1030},
        {1006, kNoControl, kNoControl, 1017, 1040, 1031},
        {1007, kNoControl, kNoControl, 1018, 1041, 1032},
        {1008, kNoControl, kNoControl, 1019, 1042, 1033},
        {1009, kNoControl, kNoControl, 1020, 1043, 1034},
        {1092, kNoControl, kNoControl, 1100, 1108, 1035},
        {1093, kNoControl, kNoControl, 1101, 1109, 1044},
        {1094, kNoControl, kNoControl, 1102, 1110, 1045},
        {1095, kNoControl, kNoControl, 1103, 1111, 1046},
        {1096, kNoControl, kNoControl, 1104, 1112, 1047},
        {1097, kNoControl, kNoControl, 1105, 1113, 1048},
        {1098, kNoControl, kNoControl, 1106, 1114, 1049},
        {1099, kNoControl, kNoControl, 1107, 1115, 1050},
    },
};

inline constexpr DialogLayout kKindRowsLayout{
    .mailLinkId = 1063,
    .webLinkId = 1080,
    .logoBitmapId = 103,
    .rows = {
        {1002, 1022, 1044, 1013, 1036, 1064},
        {1003, 1023, 1045, 1014, 1037, 1065},
        {1004, 1024, 1046, 1015, 1038, 1066},
        {1005, 1025, 1047, 1016, 1039, 1067},
        {1006, 1026, 1048, 1017, 1040, 1068},
        {1007, 1027, 1049, 1018, 1041, 1069},
        {1008, 1028, 1050, 1019, 1042, 1070},
        {1009, 1029, 1051, 1020, 1043, 1071},
        {1092, 1030, 1052, 1100, 1108, 1072},
        {1093, 1031, 1053, 1101, 1109, 1073},
        {1094, 1032, 1054, 1102, 1110, 1074},
        {1095, 1033, 1055, 1103, 1111, 1075},
        {1096, 1034, 1056, 1104, 1112, 1076},
        {1097, 1035, 1057, 1105, 1113, 1077},
        {1098, 1058, 1059, 1106, 1114, 1078},
        {1099, 1060, 1061, 1107, 1115, 1079},
    },
};

constexpr const DialogLayout& layoutFor(const models::ModelDefinition& model) {
    return model.cellsCarryKind ? kKindRowsLayout : kSplayRowsLayout;
}

}  // namespace dialog
