// The name and type under which the hardware provider is known to CryptoAPI, and where
// CryptoAPI looks it up. Plain macros, so the resource and package builds can read them too.
#ifndef QUORVEL_PROVIDER_IDENTITY_H
#define QUORVEL_PROVIDER_IDENTITY_H

#define HARDWARE_PROVIDER_NAME "Intel Hardware Cryptographic Service Provider"
#define HARDWARE_PROVIDER_TYPE 22 /* PROV_INTEL_SEC */
#define HARDWARE_PROVIDER_KEY "Software\\Microsoft\\Cryptography\\Defaults\\Provider\\" HARDWARE_PROVIDER_NAME
#define HARDWARE_PROVIDER_TYPE_KEY "Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 022"

#endif
