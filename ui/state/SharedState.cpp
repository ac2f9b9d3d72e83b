#include "state/SharedState.h"

DocumentSharedState& SharedState()
{
    static DocumentSharedState state;
    return state;
}
