#ifndef ZRADIO_STORE_H
#define ZRADIO_STORE_H

// The radio link owns the parameter store. The link's C-style code reaches
// it through these few functions.

#include <cstdint>

class ZParamAdmin;

// Creates the store (no parent). May return null; every use is checked.
ZParamAdmin *zradio_store_create();
void zradio_store_destroy(ZParamAdmin *store);

// Integer value of (group, key); 0 without a store or for a missing key,
// as a blank item reads.
int32_t zradio_store_int(ZParamAdmin *store, const char *group, const char *key);

// The store's transmit-state byte, written by the UART reader.
void zradio_store_set_trx(ZParamAdmin *store, uint8_t on);

#endif
