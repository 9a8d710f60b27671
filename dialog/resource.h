/* Resource ids of the "Sensors" dialog, shared by the resource script and the code. */
#ifndef VORKAST_DIALOG_RESOURCE_H
#define VORKAST_DIALOG_RESOURCE_H

#define IDD_SENSORS 101
#define IDC_SENSOR_LIST 1001

#endif
