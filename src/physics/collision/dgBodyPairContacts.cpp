#include "dgBodyPairContacts.h"

#include "dgDynamicsServices.h"

// The pass itself follows.
void dgWorldCollideBodyPair(dgWorld*, dgBody*, dgBody*) {}
void dgWorldContactsConvex(dgWorld*, dgBody*, dgBody*, dgMaterialPair*) {}
void dgWorldContactsCompound(dgWorld*, dgBody*, dgBody*, dgMaterialPair*) {}
