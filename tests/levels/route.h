// The route planner of the level playthrough and the recording autopilot, to the nearest food.
#pragma once

#include <queue>
#include <vector>

#include "Template.h"

// Whether cell 22 * column + row of the map in play holds a ball or a power ball.
inline bool Edible(int cell) {
  const int v = mapV[cell / MAP_H][cell % MAP_H];
  return v >= 1 && v <= 8;
}

// Breadth-first from cell `start`: hop(cell, way) is the cell reached by holding way 0..3 (up,
// down, left, right) there, -1 when blocked; eats(cell, way) whether that hop eats something.
// Returns the first way of a shortest route that ends with a hop that eats, -1 when none does.
template <class HopFn, class EatsFn>
int FirstWayToFood(int start, HopFn hop, EatsFn eats) {
  std::vector<int> first(MAP_W * MAP_H, -2);  // the first way of the route to each cell reached
  std::queue<int> frontier({start});
  first[size_t(start)] = -1;
  while (!frontier.empty()) {
    const int c = frontier.front();
    frontier.pop();
    for (int way = 0; way < 4; way++) {
      const int to = hop(c, way), route = c == start ? way : first[size_t(c)];
      if (to < 0) continue;
      if (eats(c, way)) return route;
      if (first[size_t(to)] != -2) continue;
      first[size_t(to)] = route;
      frontier.push(to);
    }
  }
  return -1;
}
