// The product's converter: workbooks to CSV files.
#pragma once

class TvoProject;

// The converter module's start-up step: the product's constants in the project
// and the batch's switch that leaves out "~$" lock files.
void voTabrixStartup(TvoProject& Project);
