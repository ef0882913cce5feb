/* Names of the products and their maker. Plain preprocessor text, because the
   version resources include it as well as the model definitions. */
#ifndef MODELS_IDENTITY_H
#define MODELS_IDENTITY_H

#define MAKER_NAME "Brennick Sound, Inc."
#define KTR2_DISPLAY_NAME "VESTRA KTR2 Array"
#define KTR4_DISPLAY_NAME "VESTRA KTR4 Array"
#define QSPAN_DISPLAY_NAME "Q.SPAN Array"

#endif
