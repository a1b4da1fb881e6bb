// The ten destination labels, fed by the audio router's revertives.
#include "PELDAN.h"

#include "panel_constants.h"

int PELDAN::revertiveCallback(revertiveView& revertive) {
    if (revertive.device() != audioRouterDevice)
        return 0;
    // Unsigned arithmetic: an index near the bottom of the range must not overflow.
    int label = static_cast<int>(static_cast<unsigned int>(revertive.index()) -
                                 static_cast<unsigned int>(labelNumberOffset));
    textPut("text", revertive.text(), panelText(), "UMD_" + vesk_string(label, 0, 0, 10));
    return 0;
}
